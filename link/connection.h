#pragma once
// The inside of one exchange, shared by SendCommand on the GUI thread and the exchange's own
// thread. Windows and flows see only link/exchange.h.
#include <netinet/in.h>

#include <QString>
#include <chrono>
#include <mutex>
#include <vector>

#include "link/exchange.h"

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
    uint8_t awaitedGroup = 0;      // the request's; an answer of another group is not its answer
    std::vector<uint8_t> request;  // sent by the exchange's thread once it is connected
    int connectTimeoutMs = 0;
    QString sendError;         // set by the thread when the command never reached the module
    bool requestSent = false;  // the whole request has left, under `lock`
    std::chrono::steady_clock::time_point started;  // SendCommand's call, for the trace

    std::mutex lock;
    FrameBuffer received{};  // the exchange's own bytes, copied over on delivery
    bool delivered = false;
};
