#include "exporter/http.h"

#include <crypt.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <QCryptographicHash>
#include <QMetaObject>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

namespace {

constexpr const char* kRealm = "kestrel-exporter";
// Prometheus sends the same credentials on every scrape: a handful of them is all the cache
// needs, and a bounded one cannot be grown by guessing.
constexpr size_t kCachedPasswords = 32;

// Where a request stands. Reading: its head is in; Waiting: its connection is suspended until the
// answer comes; Answered: resumed with the answer; Closed: ended, whatever comes later is dropped.
enum class Stage { Reading, Waiting, Answered, Closed };

struct Pending {
    MHD_Connection* connection = nullptr;
    size_t targetBytes = 0;  // the request target as sent, before any decoding
    bool started = false;
    Stage stage = Stage::Reading;
    HttpResponse response;
};
using PendingRef = std::shared_ptr<Pending>;

HttpResponse Text(int status, const char* text) {
    return {status, "text/plain; charset=utf-8", text};
}

}  // namespace

struct HttpServer::Core {
    HttpHandler handler;
    HttpLimits limits;
    WebConfig web;
    QObject* context = nullptr;
    std::weak_ptr<Core> self;
    MHD_Daemon* daemon = nullptr;

    // Guards `stopping`, `waiting` and the stage and answer of every request. Never held while
    // calling libmicrohttpd, whose own locks are then free of any order with it: a connection in
    // `waiting` is suspended, and libmicrohttpd ends no suspended connection, so whoever takes
    // one out of `waiting` may resume it after letting go.
    std::mutex mutex;
    bool stopping = false;
    std::set<Pending*> waiting;

    std::mutex logMutex;
    QString lastError;

    std::mutex cacheMutex;
    std::deque<QByteArray> passed;  // user, NUL, SHA-256 of the password; the oldest first
    std::atomic<int> checks{0};
};

namespace {

using Core = HttpServer::Core;

// The hash's own comparison, in time that does not tell how much of it matched.
bool BcryptMatches(const QByteArray& password, const QByteArray& hash) {
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_r(password.constData(), hash.constData(), data.get());
    if (!out || out[0] == '*' || std::strlen(out) != static_cast<size_t>(hash.size()))
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        diff |= static_cast<unsigned char>(out[i] ^ hash[i]);
    return diff == 0;
}

bool Authorised(Core& core, MHD_Connection* connection) {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    if (!user) {
        MHD_free(password);
        return false;
    }
    const QByteArray name(user);
    QByteArray secret(password ? password : "");
    MHD_free(user);
    if (password) {
        std::memset(password, 0, std::strlen(password));
        MHD_free(password);
    }
    const QByteArray key =
        name + '\0' + QCryptographicHash::hash(secret, QCryptographicHash::Sha256);
    {
        std::lock_guard lock(core.cacheMutex);
        if (std::find(core.passed.begin(), core.passed.end(), key) != core.passed.end())
            return true;
    }
    // An unknown user costs a check against a known hash as well, so that the time taken does
    // not tell which names exist.
    const auto it = core.web.users.find(name);
    const QByteArray& hash =
        it != core.web.users.end() ? it->second : core.web.users.begin()->second;
    ++core.checks;
    const bool ok = BcryptMatches(secret, hash) && it != core.web.users.end();
    secret.fill('\0');
    if (!ok)
        return false;
    std::lock_guard lock(core.cacheMutex);
    core.passed.push_back(key);
    if (core.passed.size() > kCachedPasswords)
        core.passed.pop_front();
    return true;
}

// Queues an answer; `close` ends the connection after it, for a client whose request was refused
// while its connection may still hold the rest of it.
MHD_Result Queue(MHD_Connection* connection, const HttpResponse& answer, bool close,
                 bool challenge = false) {
    MHD_Response* response = MHD_create_response_from_buffer(
        static_cast<size_t>(answer.body.size()), const_cast<char*>(answer.body.constData()),
        MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    bool ok = MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                      answer.contentType.constData()) == MHD_YES;
    if (close)
        ok =
            ok && MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close") == MHD_YES;
    MHD_Result result = MHD_NO;
    if (ok) {
        result = challenge ? MHD_queue_basic_auth_fail_response(connection, kRealm, response)
                           : MHD_queue_response(connection, static_cast<unsigned>(answer.status),
                                                response);
    }
    MHD_destroy_response(response);
    return result;
}

struct Head {
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    size_t longest = 0;
};

MHD_Result TakeHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto& head = *static_cast<Head*>(cls);
    QByteArray name = QByteArray(key).toLower();
    const QByteArray text(value ? value : "");
    head.longest = std::max(head.longest, static_cast<size_t>(name.size() + 2 + text.size()));
    head.headers.emplace_back(std::move(name), text);
    return MHD_YES;
}

// The arguments as libmicrohttpd decoded them ('+' as a space, %XX as its byte), encoded again
// whole, so that QUrlQuery's fully decoded values are those same bytes, '%', '&' and '+'
// included.
MHD_Result TakeArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto& encoded = *static_cast<QByteArray*>(cls);
    if (!encoded.isEmpty())
        encoded += '&';
    encoded += QUrl::toPercentEncoding(QByteArray(key));
    if (value)
        encoded += '=' + QUrl::toPercentEncoding(QByteArray(value));
    return MHD_YES;
}

// What is refused before the handler sees the request; nothing when it goes on.
std::optional<HttpResponse> Refusal(const Core& core, const Pending& pending, const Head& head) {
    const auto line = static_cast<size_t>(core.limits.lineBytes);
    if (pending.targetBytes > line)
        return Text(414, "The request target is too long.\n");
    if (head.longest > line)
        return Text(431, "A header line is too long.\n");
    // Only GET and HEAD are served: a body would only be read to be thrown away.
    for (const auto& [name, value] : head.headers) {
        if ((name == "content-length" && value.trimmed() != "0") || name == "transfer-encoding")
            return Text(413, "A request body is not accepted.\n");
    }
    return std::nullopt;
}

void* RequestStarted(void*, const char* uri, MHD_Connection* connection) {
    auto* held = new PendingRef(std::make_shared<Pending>());
    (*held)->connection = connection;
    (*held)->targetBytes = uri ? std::strlen(uri) : 0;
    return held;
}

void RequestEnded(void* cls, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    auto* held = static_cast<PendingRef*>(*state);
    if (!held)
        return;
    auto& core = *static_cast<Core*>(cls);
    {
        std::lock_guard lock(core.mutex);
        (*held)->stage = Stage::Closed;
        core.waiting.erase(held->get());
    }
    delete held;
    *state = nullptr;
}

void Respond(Core& core, const PendingRef& pending, HttpResponse answer) {
    {
        std::lock_guard lock(core.mutex);
        if (core.stopping || pending->stage != Stage::Waiting)
            return;
        pending->response = std::move(answer);
        pending->stage = Stage::Answered;
        core.waiting.erase(pending.get());
    }
    MHD_resume_connection(pending->connection);
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
    auto& core = *static_cast<Core*>(cls);
    auto* held = static_cast<PendingRef*>(*state);
    if (!held)
        return MHD_NO;
    Pending& pending = **held;
    if (!pending.started) {
        // The head is in: the refusals that need no handler, then on the next call the request.
        pending.started = true;
        Head head;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &TakeHeader, &head);
        if (const auto refusal = Refusal(core, pending, head))
            return Queue(connection, *refusal, true);
        if (!core.web.users.empty() && !Authorised(core, connection))
            return Queue(connection, Text(401, "Unauthorized.\n"), false, true);
        return MHD_YES;
    }
    if (*uploadSize != 0)
        return MHD_NO;  // a body that announced no length: not served
    std::optional<HttpResponse> answer;
    {
        std::lock_guard lock(core.mutex);
        if (pending.stage == Stage::Answered)
            answer = std::move(pending.response);
        else if (core.stopping || pending.stage != Stage::Reading)
            return MHD_NO;
        pending.stage = answer ? Stage::Closed : Stage::Waiting;
    }
    if (answer)
        return Queue(connection, *answer, false);
    MHD_suspend_connection(connection);
    bool stopping = false;
    {
        std::lock_guard lock(core.mutex);
        stopping = core.stopping;
        if (stopping)
            pending.stage = Stage::Closed;
        else
            core.waiting.insert(&pending);
    }
    if (stopping) {  // the server's end came between the two: resumed here, to be closed
        MHD_resume_connection(connection);
        return MHD_YES;
    }
    HttpRequest request;
    request.method = method;
    request.path = url;
    Head head;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &TakeHeader, &head);
    request.headers = std::move(head.headers);
    QByteArray arguments;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &TakeArgument, &arguments);
    request.query.setQuery(QString::fromLatin1(arguments));
    QMetaObject::invokeMethod(
        core.context,
        [self = core.self.lock(), ref = *held, request = std::move(request)] {
            self->handler(request, [self, ref](HttpResponse answer) {
                Respond(*self, ref, std::move(answer));
            });
        },
        Qt::QueuedConnection);
    return MHD_YES;
}

void Log(void* cls, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    // A failed start explains itself over a few lines (GnuTLS's reason, then that TLS failed):
    // the last few of them make the reason; a client cannot grow it.
    auto& core = *static_cast<Core*>(cls);
    std::lock_guard lock(core.logMutex);
    if (core.lastError.size() > 600)
        core.lastError.clear();
    QString line = QString::fromUtf8(text).trimmed();
    if (line.endsWith(QLatin1Char('.')))
        line.chop(1);
    core.lastError += (core.lastError.isEmpty() ? "" : "; ") + line;
}

}  // namespace

quint64 RaiseOpenFilesLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 0;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files = raised;
    }
    return files.rlim_cur;
}

HttpServer::HttpServer(HttpHandler handler, HttpLimits limits, WebConfig web, QObject* parent)
    : QObject(parent), core_(std::make_shared<Core>()) {
    core_->handler = std::move(handler);
    core_->limits = limits;
    core_->web = std::move(web);
    core_->context = this;
    core_->self = core_;
}

HttpServer::~HttpServer() {
    // libmicrohttpd must not be stopped with a connection suspended: each waiting request is
    // resumed to be closed, and its answer, when the exporter gives it, finds it closed.
    std::vector<MHD_Connection*> suspended;
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
        for (Pending* p : core_->waiting) {
            p->stage = Stage::Closed;
            suspended.push_back(p->connection);
        }
        core_->waiting.clear();
    }
    for (MHD_Connection* c : suspended)
        MHD_resume_connection(c);
    if (core_->daemon)
        MHD_stop_daemon(core_->daemon);
    core_->daemon = nullptr;
}

int HttpServer::passwordChecks() const {
    return core_->checks;
}

quint16 HttpServer::listen(const QHostAddress& address, quint16 port, QString* reason) {
    if (core_->daemon) {
        *reason = QStringLiteral("already listening");
        return 0;
    }
    const HttpLimits& l = core_->limits;
    if (l.lineBytes < 256 || l.headerBytes < l.lineBytes || l.idleSeconds < 1 ||
        l.connections < 1 || l.threads < 1) {
        *reason = QStringLiteral("HTTP limits out of range");
        return 0;
    }
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr* socketAddress = nullptr;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                     MHD_USE_ERROR_LOG;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(address.toIPv4Address());
        socketAddress = reinterpret_cast<const sockaddr*>(&v4);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, sizeof bytes);
        socketAddress = reinterpret_cast<const sockaddr*>(&v6);
        flags |= MHD_USE_IPv6;
    } else {
        *reason = QStringLiteral("not an IPv4 or IPv6 address: %1").arg(address.toString());
        return 0;
    }
    const bool tls = !core_->web.certPem.isEmpty();
    if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        *reason = QStringLiteral("this libmicrohttpd has no TLS");
        return 0;
    }
    if (tls)
        flags |= MHD_USE_TLS;
    // The certificate and key go in as C strings (a QByteArray's data ends in a NUL); without
    // TLS the array ends at once.
    MHD_OptionItem tlsOptions[] = {
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
         const_cast<char*>(core_->web.certPem.constData())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(core_->web.keyPem.constData())},
        {MHD_OPTION_END, 0, nullptr},
    };
    {
        std::lock_guard lock(core_->logMutex);
        core_->lastError.clear();
    }
    // The logger first, so that every start-up message reaches the reason.
    core_->daemon = MHD_start_daemon(
        flags, port, nullptr, nullptr, &Access, core_.get(), MHD_OPTION_EXTERNAL_LOGGER, &Log,
        core_.get(), MHD_OPTION_SOCK_ADDR, socketAddress, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<size_t>(l.headerBytes), MHD_OPTION_CONNECTION_LIMIT,
        static_cast<unsigned>(l.connections), MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(l.idleSeconds), MHD_OPTION_THREAD_POOL_SIZE,
        static_cast<unsigned>(l.threads), MHD_OPTION_URI_LOG_CALLBACK, &RequestStarted, core_.get(),
        MHD_OPTION_NOTIFY_COMPLETED, &RequestEnded, core_.get(), MHD_OPTION_ARRAY, tlsOptions,
        MHD_OPTION_END);
    if (!core_->daemon) {
        std::lock_guard lock(core_->logMutex);
        *reason = core_->lastError.isEmpty() ? QStringLiteral("libmicrohttpd did not start")
                                             : core_->lastError;
        return 0;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(core_->daemon, MHD_DAEMON_INFO_BIND_PORT);
    if (!info || info->port == 0) {
        MHD_stop_daemon(core_->daemon);
        core_->daemon = nullptr;
        *reason = QStringLiteral("the port listened on is unknown");
        return 0;
    }
    return info->port;
}
