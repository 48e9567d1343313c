#pragma once
// One command on a TCP connection of its own: connect and send on the GUI thread, receive the
// whole answer on a receive thread, hand the answer to the asking window's handler on the GUI
// thread.
#include <netinet/in.h>

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/protocol.h"

// Why a handler is entered: the operator's control, the window itself (its own timer or an
// internal step), the delivery of an answer, or the time-out of the main window's timer.
enum class Sender { Operator, Window, Answer, Timeout };

using Handler = std::function<void(Sender)>;

// A window's handler bound to the window. `flow` tells a window's handlers apart, so that an
// exchange and its time-out belong to exactly one of them.
struct Continuation {
    QObject* window = nullptr;
    int flow = 0;
    Handler handler;
};

namespace ReceiveStatusText {
inline const QString NewPacket = QStringLiteral("Принят новый пакет");
inline const QString ZeroLength = QStringLiteral("Нулевая длинна данных");
inline const QString ReceiveError = QStringLiteral("Ошибка при получении данных от клиента");
inline const QString Interrupted = QStringLiteral("Поток прерван");
}  // namespace ReceiveStatusText

// One exchange. Created by SendCommand; after the send it is shared between the GUI thread and
// its receive thread, which meet only under `lock`.
struct TcpConnection {
    sockaddr_in localAddress{};
    sockaddr_in remoteAddress{};
    int receivedLength = 0;  // bytes of the answer, 0 when closed at once, -1 on error
    ReceiveBuffer* receiveBuffer = nullptr;  // the window's; written only on the GUI thread
    int socket = -1;
    bool Interrupted = false;  // abandoned: no delivery, the thread ends on its own
    Continuation callback;
    QString receiveStatus;
    uint8_t awaitedGroup = 0;  // the request's; an answer of another group is not its answer

    std::mutex lock;
    FrameBuffer received{};  // the exchange's own bytes, copied over on delivery
    bool delivered = false;
};
using ConnectionRef = std::shared_ptr<TcpConnection>;

// The exchange SendCommand is setting up; empty whenever SendCommand is not running.
extern TcpConnection* CurrentConnection;

namespace NetError {
inline const QString CreateModule =
    QStringLiteral("Ошибка при работе с сетью: Ошибка создания сетевого модуля программы");
inline const QString Connect1 = QStringLiteral("Ошибка при работе с сетью: Ошибка соединения 1");
inline const QString Connect2 = QStringLiteral("Ошибка при работе с сетью: Ошибка соединения 2");
inline const QString Connect3 = QStringLiteral("Ошибка при работе с сетью: Ошибка соединения 3");
inline const QString Send = QStringLiteral("Ошибка при работе с сетью: Ошибка отправки данных");
inline const QString Thread =
    QStringLiteral("Ошибка при работе с сетью: Ошибка создания потока приема данных");
}  // namespace NetError

// Sends `length` bytes of `data` to address:port and starts the receive thread. Returns the empty
// text on success (then `started`, if given, holds the exchange) or one of the NetError texts.
// A port text that is not a number 0..65535 raises ConversionError before anything is opened.
QString SendCommand(const QString& address, const QString& port, Continuation callback,
                    const uint8_t* data, int length, ReceiveBuffer& receiveBuffer,
                    ConnectionRef* started = nullptr);

// Abandons an exchange: it will never call back, and its receive thread ends at once.
void AbandonExchange(const ConnectionRef& connection);
// Abandons every open exchange of a window (closing or destroying it).
void AbandonExchanges(QObject* window);
// Number of exchanges whose answer has neither been delivered nor abandoned.
int OpenExchangeCount();
// Waits until every receive thread has ended; false on time-out.
bool WaitForReceiveThreads(int timeoutMs);

// How an exchange ended for its window: its answer was handed over, or its time-out came first.
enum class ExchangeEnd { Answered, TimedOut };
// Told of every end just before the window's handler hears of it; empty unless a soak or a test
// watches the link as a whole. GUI thread only.
using ExchangeWatcher = std::function<void(const Continuation&, ExchangeEnd)>;
void SetExchangeWatcher(ExchangeWatcher watcher);
void NotifyExchangeEnd(const Continuation& continuation, ExchangeEnd end);

// Upper bound of the blocking connect on the GUI thread, in milliseconds. Tests may shorten it.
extern int ConnectTimeoutMs;
