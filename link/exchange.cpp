#include "link/exchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "link/codecs.h"
#include "link/connection.h"
#include "link/shell.h"
#include "link/trace.h"

namespace {
// The exchange SendCommand is setting up; empty whenever SendCommand is not running. Written and
// read by SendCommand alone, on the GUI thread; others ask SendingCommand().
TcpConnection* CurrentConnection = nullptr;
}  // namespace

bool SendingCommand() {
    return CurrentConnection != nullptr;
}
int ConnectTimeoutMs = 3000;

namespace {

// Exchanges whose answer is still to come; GUI thread only.
std::vector<std::weak_ptr<TcpConnection>> g_open;
ExchangeWatcher g_watcher;

// Receive threads still running, so that a test or the end of the program can wait for them.
std::mutex g_threadsLock;
std::condition_variable g_threadsDone;
int g_threadsRunning = 0;

void CloseSocket(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Waits for `events` on fd, retrying on EINTR with the time that remains. >0 ready, 0 time-out.
int PollFor(int fd, short events, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

// The socket, on the GUI thread: nothing here waits on the network.
QString OpenSocket(TcpConnection& c, const QString& address, uint16_t port) {
    c.remoteAddress.sin_family = AF_INET;
    c.remoteAddress.sin_port = htons(port);
    // The address the check accepted, read the same way: the platform's own parser would take
    // a zero-padded part such as "010" for octal and dial another module.
    uint8_t octets[4];
    const bool addressGood = ParseIpv4(address, octets);
    if (addressGood)
        std::memcpy(&c.remoteAddress.sin_addr.s_addr, octets, sizeof octets);
    c.localAddress.sin_family = AF_INET;
    c.localAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    c.localAddress.sin_port = htons(0);

    c.socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (c.socket < 0)
        return NetError::Connect1;
    // The local port is left to connect(), which may reuse ports still in TIME_WAIT towards
    // other peers; a bind to port 0 would search the whole range on every command.
    const int noPort = 1;
    ::setsockopt(c.socket, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &noPort, sizeof noPort);
    if (::bind(c.socket, reinterpret_cast<sockaddr*>(&c.localAddress), sizeof c.localAddress) !=
        0) {
        CloseSocket(c.socket);
        return NetError::Connect2;
    }
    if (!addressGood) {
        CloseSocket(c.socket);
        return NetError::Connect3;
    }
    return {};
}

bool Abandoned(TcpConnection& c) {
    std::lock_guard<std::mutex> guard(c.lock);
    return c.Interrupted;
}

// The connect, on the exchange's thread, bounded so that an unreachable module cannot hold the
// thread for the minutes the kernel would wait. Watched in short slices: an abandoned exchange
// shuts its socket, which ends the wait at once, but a shutdown that comes before connect()
// has started would not.
bool ConnectNow(TcpConnection& c) {
    const int flags = ::fcntl(c.socket, F_GETFL);
    ::fcntl(c.socket, F_SETFL, flags | O_NONBLOCK);
    if (Abandoned(c))
        return false;
    int rc =
        ::connect(c.socket, reinterpret_cast<sockaddr*>(&c.remoteAddress), sizeof c.remoteAddress);
    if (rc != 0 && errno == EINPROGRESS) {
        constexpr int kSliceMs = 50;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(c.connectTimeoutMs);
        int ready = 0;
        while (ready == 0 && !Abandoned(c)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            ready =
                PollFor(c.socket, POLLOUT, static_cast<int>(std::min<long long>(left, kSliceMs)));
        }
        if (ready > 0) {
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(c.socket, SOL_SOCKET, SO_ERROR, &error, &len);
            rc = error == 0 ? 0 : -1;
        }
    }
    ::fcntl(c.socket, F_SETFL, flags);
    return rc == 0;
}

// The request goes under the exchange's lock: an exchange is either given up before its request
// leaves or known to have sent it, never both. A new connection's buffer always takes the few
// bytes of a request, so the send does not wait (and would fail rather than wait).
bool SendRequest(TcpConnection& c) {
    std::lock_guard<std::mutex> guard(c.lock);
    if (c.Interrupted)
        return false;
    const auto* data = c.request.data();
    const int length = static_cast<int>(c.request.size());
    int sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(c.socket, data + sent, static_cast<size_t>(length - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<int>(n);
    }
    c.requestSent = true;
    return true;
}

void Deliver(const ConnectionRef& c) {
    // GUI thread. Interrupted is only ever set on this thread, so no lock is needed to read it.
    if (c->Interrupted || c->delivered)
        return;
    c->delivered = true;
    if (!c->sendError.isEmpty()) {
        // The line a failed send has always had, then the flow ends as without an answer.
        TraceExchange(*c, TraceOutcome::SendError, nullptr, 0);
        LogEvent(c->sendError);
        NotifyExchangeEnd(c->callback, ExchangeEnd::SendFailed);
        const Handler handler = c->callback.handler;
        RunGuarded([&] { handler(Sender::SendFailed); });
        return;
    }
    const bool taken = c->receiveBuffer && TakeAnswer(c->awaitedGroup, c->received.data(),
                                                      c->receivedLength, *c->receiveBuffer);
    if (TraceOn()) {
        const uint8_t asked = c->request.size() > 1 ? c->request[1] : 0;
        const TraceOutcome outcome = c->receivedLength <= 0             ? TraceOutcome::Closed
                                     : taken && c->received[1] == asked ? TraceOutcome::Answer
                                                                        : TraceOutcome::WrongAnswer;
        TraceExchange(*c, outcome, c->received.data(), std::max(c->receivedLength, 0));
    }
    NotifyExchangeEnd(c->callback, ExchangeEnd::Answered);
    const Handler handler = c->callback.handler;
    RunGuarded([&] { handler(Sender::Answer); });
}

void EndThread() {
    std::lock_guard<std::mutex> guard(g_threadsLock);
    if (--g_threadsRunning == 0)
        g_threadsDone.notify_all();
}

// The last step of every exchange's thread. Under the lock, `settle` writes how the exchange
// ended and the socket is shut (when the module had the request) and closed; the window's
// handler is posted under the same lock, unless the window has given the exchange up meanwhile
// (time-out or destruction): after that nothing more is posted to it.
template <typename Settle>
void EndExchange(ConnectionRef c, bool shutDown, Settle settle) {
    {
        std::lock_guard<std::mutex> guard(c->lock);
        settle(*c);
        if (shutDown)
            ::shutdown(c->socket, SHUT_RDWR);
        CloseSocket(c->socket);
        if (!c->Interrupted) {
            QMetaObject::invokeMethod(
                c->callback.window, [c] { Deliver(c); }, Qt::QueuedConnection);
        }
    }
    c.reset();
    EndThread();
}

// The command never reached the module: the window hears it as a failed send.
void FailExchange(ConnectionRef c, const QString& error) {
    EndExchange(std::move(c), false, [&](TcpConnection& x) { x.sendError = error; });
}

void ReceiveThread(ConnectionRef c) {
    if (!ConnectNow(*c)) {
        FailExchange(std::move(c), NetError::Connect3);
        return;
    }
    if (!SendRequest(*c)) {
        FailExchange(std::move(c), NetError::Send);
        return;
    }
    int total = 0;
    bool failed = false;
    // Reads until the answer is as long as its own header says, the module closes, or the first
    // byte shows that it answers something else; what is cut short is judged on delivery.
    while (JudgeAnswer(c->awaitedGroup, c->received.data(), total) == AnswerState::Partial &&
           total < kFrameBufferSize) {
        const ssize_t n = ::recv(c->socket, c->received.data() + total,
                                 static_cast<size_t>(kFrameBufferSize - total), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<int>(n);
    }
    EndExchange(std::move(c), true, [&](TcpConnection& x) {
        x.receivedLength = total > 0 ? total : (failed ? -1 : 0);
        if (x.Interrupted) {
            x.receiveStatus = ReceiveStatusText::Interrupted;
        } else if (total > 0) {
            x.receiveStatus = ReceiveStatusText::NewPacket;
        } else {
            x.receiveStatus =
                failed ? ReceiveStatusText::ReceiveError : ReceiveStatusText::ZeroLength;
        }
    });
}

void ForgetClosed() {
    g_open.erase(std::remove_if(g_open.begin(), g_open.end(),
                                [](const std::weak_ptr<TcpConnection>& w) {
                                    const ConnectionRef c = w.lock();
                                    return !c || c->Interrupted || c->delivered;
                                }),
                 g_open.end());
}

// Clears CurrentConnection on every way out of SendCommand.
struct CurrentConnectionScope {
    explicit CurrentConnectionScope(TcpConnection* c) { CurrentConnection = c; }
    ~CurrentConnectionScope() { CurrentConnection = nullptr; }
};

}  // namespace

QString SendCommand(const QString& address, const QString& port, Continuation callback,
                    const uint8_t* data, int length, ReceiveBuffer& receiveBuffer,
                    ConnectionRef* started) {
    if (started)
        started->reset();
    const int portNumber = TextToInt(port);  // raises before anything is opened

    ConnectionRef c;
    try {
        c = std::make_shared<TcpConnection>();
    } catch (const std::bad_alloc&) {
        return NetError::CreateModule;
    }
    CurrentConnectionScope scope(c.get());
    c->started = std::chrono::steady_clock::now();
    c->receiveStatus.clear();

    const QString error = OpenSocket(*c, address, static_cast<uint16_t>(portNumber));
    if (!error.isEmpty())
        return error;
    c->request.assign(data, data + std::max(length, 0));
    c->connectTimeoutMs = ConnectTimeoutMs;

    c->callback = std::move(callback);
    c->receiveBuffer = &receiveBuffer;
    c->awaitedGroup = length >= 1 ? data[0] : 0;
    {
        std::lock_guard<std::mutex> guard(g_threadsLock);
        ++g_threadsRunning;
    }
    try {
        std::thread(ReceiveThread, c).detach();
    } catch (const std::system_error&) {
        // The thread never ran: its count goes back and the socket is closed here. The caller
        // logs the text it gets, as for every error returned.
        EndThread();
        CloseSocket(c->socket);
        return NetError::Thread;
    }
    ForgetClosed();
    g_open.push_back(c);
    if (started)
        *started = c;
    return {};
}

void SetExchangeWatcher(ExchangeWatcher watcher) {
    g_watcher = std::move(watcher);
}

void NotifyExchangeEnd(const Continuation& continuation, ExchangeEnd end) {
    if (g_watcher)
        g_watcher(continuation, end);
}

bool AbandonExchange(const ConnectionRef& c) {
    if (!c)
        return false;
    std::lock_guard<std::mutex> guard(c->lock);
    if (c->delivered || c->Interrupted)
        return false;
    c->Interrupted = true;
    // Wakes the blocked connect or recv; only the exchange's thread closes the socket.
    if (c->socket >= 0)
        ::shutdown(c->socket, SHUT_RDWR);
    return c->requestSent;
}

void AbandonExchanges(QObject* window) {
    for (const auto& w : g_open) {
        if (const ConnectionRef c = w.lock(); c && c->callback.window == window) {
            if (AbandonExchange(c)) {
                TraceExchange(*c, TraceOutcome::Abandoned, nullptr, 0);
                NotifyExchangeEnd(c->callback, ExchangeEnd::Abandoned);
            }
        }
    }
    ForgetClosed();
}

bool RequestSent(const ConnectionRef& c) {
    if (!c)
        return true;
    std::lock_guard<std::mutex> guard(c->lock);
    return c->requestSent;
}

int OpenExchangeCount() {
    ForgetClosed();
    return static_cast<int>(g_open.size());
}

bool WaitForReceiveThreads(int timeoutMs) {
    std::unique_lock<std::mutex> guard(g_threadsLock);
    return g_threadsDone.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [] { return g_threadsRunning == 0; });
}
