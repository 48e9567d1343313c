#pragma once
// What the exporter's HTTP face hands the exporter and takes back: one request at a time, on the
// exporter's thread, answered once, then or later.
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUrlQuery>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct HttpRequest {
    QByteArray method;
    QByteArray path;  // without the query
    QUrlQuery query;
    std::vector<std::pair<QByteArray, QByteArray>> headers;  // names in lower case

    // The value of a header by its lower-case name; empty when the request has none.
    QByteArray header(const QByteArray& lowerName) const {
        for (const auto& [name, value] : headers) {
            if (name == lowerName)
                return value;
        }
        return {};
    }
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("text/plain; charset=utf-8");
    QByteArray body;
};

// Answers one request, once; called on the exporter's thread. A client that has gone by then
// is written nothing.
using HttpRespond = std::function<void(HttpResponse)>;
using HttpHandler = std::function<void(const HttpRequest&, HttpRespond)>;

// The HTTP server the exporter listens with: libmicrohttpd's own threads read and bound each
// request, and hand it to the handler on the thread that made the server.
// What one client can make the server hold. The defaults serve Prometheus, whose requests are a
// few hundred bytes, with room to spare.
struct HttpLimits {
    int lineBytes = 8 * 1024;     // one header line, or the request line (431, 414 beyond)
    int headerBytes = 32 * 1024;  // a connection's whole buffer for the request's head
    int idleSeconds = 5;          // a connection that sends nothing for this long is closed
    int connections = 4096;       // open at once; beyond, new ones wait in the kernel's backlog
    int threads = 4;              // so that a password check stalls only a share of clients
};

// The web configuration file's settings: TLS when the certificate is set, basic auth when a user
// is.
struct WebConfig {
    QByteArray certPem, keyPem;
    std::map<QByteArray, QByteArray> users;  // name → bcrypt hash
};
constexpr qint64 kMaxWebFileBytes = 1024 * 1024;

// Reads a web configuration file (and the files it names, relative to its folder); on failure,
// nothing and the reason, with the line where there is one.
std::optional<WebConfig> ReadWebConfig(const QString& path, QString* error);
// The file's text alone; `folder` resolves the relative paths it names.
std::optional<WebConfig> ParseWebConfig(const QByteArray& text, const QString& folder,
                                        QString* error);
// Raises the soft limit of open files to the hard one, so that the connection limit, not the
// process's, decides how many clients are served; returns the soft limit now in force.
quint64 RaiseOpenFilesLimit();

class HttpServer : public QObject {
  public:
    explicit HttpServer(HttpHandler handler, HttpLimits limits = {}, WebConfig web = {},
                        QObject* parent = nullptr);
    // Stops the server: the requests still waiting for their answer are closed unanswered, and
    // an answer given later is dropped.
    ~HttpServer() override;

    // The port listened on (port 0: one the system chose); 0 and the reason when it cannot.
    quint16 listen(const QHostAddress& address, quint16 port, QString* reason);
    // Passwords checked against their bcrypt hash, as against the cache of those that passed.
    int passwordChecks() const;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};
