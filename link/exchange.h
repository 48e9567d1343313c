#pragma once
// One command on a TCP connection of its own: the socket is made on the GUI thread; the connect,
// the send and the receiving of the whole answer run on the exchange's own thread, which hands
// the answer (or the failure to deliver the command) to the asking window's handler on the GUI
// thread.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "link/protocol.h"

// Why a handler is entered: the operator's control, the window itself (its own timer or an
// internal step), the delivery of an answer, the time-out of the main window's timer, or a
// command that never reached the module (its connect or send failed on the exchange's thread;
// the error line is already in the event log).
enum class Sender { Operator, Window, Answer, Timeout, SendFailed };

// A command that ends without an answer: its flow goes back to idle the same way whether the
// module kept silent or was never reached; only a time-out has a no-answer line of its own.
inline bool EndsUnanswered(Sender sender) {
    return sender == Sender::Timeout || sender == Sender::SendFailed;
}

using Handler = std::function<void(Sender)>;

// A window's handler bound to the window. `flow` tells a window's handlers apart, so that an
// exchange and its time-out belong to exactly one of them.
struct Continuation {
    QObject* window = nullptr;
    int flow = 0;
    Handler handler;
};

// One exchange; what it holds is the link's own business (link/connection.h).
struct TcpConnection;
using ConnectionRef = std::shared_ptr<TcpConnection>;

// Whether SendCommand is setting up an exchange at this moment. A command handler entered from
// inside that set-up (a nested event loop) must not start another.
bool SendingCommand();

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

// Starts the exchange's thread, which connects to address:port, sends `length` bytes of `data`
// and receives the answer. Returns the empty text once the thread runs (then `started`, if given,
// holds the exchange) or, when not even the socket or the thread could be made, one of the
// NetError texts, which the caller logs: SendCommand logs none of them itself.
// A connect or send that fails later is logged and reaches the handler as Sender::SendFailed.
// A port text that is not a number 0..65535 raises ConversionError before anything is opened.
QString SendCommand(const QString& address, const QString& port, Continuation callback,
                    const uint8_t* data, int length, ReceiveBuffer& receiveBuffer,
                    ConnectionRef* started = nullptr);

// Abandons an exchange: it will never call back, and its thread ends at once. True when it was
// still open and its request had reached the module.
bool AbandonExchange(const ConnectionRef& connection);
// Abandons every open exchange of a window (closing or destroying it); the watcher hears of
// those whose request had reached the module.
void AbandonExchanges(QObject* window);
// Number of exchanges whose answer has neither been delivered nor abandoned.
int OpenExchangeCount();
// Whether an exchange's request has left for the module (a null exchange counts as sent).
bool RequestSent(const ConnectionRef& connection);

// Waits until every receive thread has ended; false on time-out.
bool WaitForReceiveThreads(int timeoutMs);

// How an exchange ended for its window: its answer was handed over, its time-out came first,
// the command never reached the module, or the window was closed while its request was out.
enum class ExchangeEnd { Answered, TimedOut, SendFailed, Abandoned };
// Told of every end just before the window's handler hears of it; empty unless a soak or a test
// watches the link as a whole. GUI thread only.
using ExchangeWatcher = std::function<void(const Continuation&, ExchangeEnd)>;
void SetExchangeWatcher(ExchangeWatcher watcher);
void NotifyExchangeEnd(const Continuation& continuation, ExchangeEnd end);

// Upper bound of the connect on the exchange's thread, in milliseconds. Read by SendCommand as it
// starts an exchange (the thread gets its own copy); written only by tests, which shorten it.
extern int ConnectTimeoutMs;
