// The exporter behind its HTTP server, asked over real sockets: what a client cannot make it hold
// (long lines, endless heads, bodies, idle and surplus connections), answers in request order,
// basic auth, TLS, and the web configuration file's errors.
#include <crypt.h>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/clishell.h"
#include "exporter/exporter.h"
#include "support/sim_pair.h"

namespace {

// Sends `request` and reads until `until` has come, the server has closed, or `ms` have passed;
// the event loop runs all along, since the exporter answers on this thread.
QByteArray Send(QTcpSocket& socket, quint16 port, const QByteArray& request,
                const QByteArray& until, int ms = 4000) {
    if (auto* ssl = qobject_cast<QSslSocket*>(&socket))
        ssl->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    else
        socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray reply;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState ||
                   (!until.isEmpty() && reply.contains(until));
        },
        ms));
    return reply;
}

QByteArray Get(const QByteArray& path, const QByteArray& extra = {}) {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

}  // namespace

class HttpTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Exporter> exporter_;
    StderrShell shell_;
    QTemporaryDir dir_;
    std::unique_ptr<HttpServer> authServer_;

    // A server for the exporter with these limits and web settings, on a port of its own.
    std::unique_ptr<HttpServer> serve(HttpLimits limits, WebConfig web, quint16* port) {
        auto server = std::make_unique<HttpServer>(
            [this](const HttpRequest& r, HttpRespond respond) {
                exporter_->handle(r, std::move(respond));
            },
            limits, std::move(web));
        QString reason;
        *port = server->listen(QHostAddress::LocalHost, 0, &reason);
        return *port ? std::move(server) : nullptr;
    }
    QByteArray moduleA() const { return "127.0.0.1:" + QByteArray::number(sim_->port(0)); }

  private slots:
    void initTestCase() {
        std::string error;
        sim_ = StartSimulatedPair(&error);
        QVERIFY2(sim_, error.c_str());
        shell_.setQuiet(true);
        SetShell(&shell_);
        ExporterOptions options;
        options.allow << QHostAddress::parseSubnet(QStringLiteral("127.0.0.1/32"));
        exporter_ = std::make_unique<Exporter>(options);
    }
    void cleanupTestCase() {
        authServer_.reset();
        exporter_.reset();
        sim_->stop();
        SetShell(nullptr);
    }

    void limits_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("replyText");  // what the answer holds; empty: no answer
        QTest::addColumn<bool>("closes");
        const QByteArray k9(9 * 1024, 'a'), m2(2 << 20, 'a');
        QTest::newRow("URL over 8 KiB") << Get("/probe?target=" + k9) << "HTTP/1.1 414" << true;
        QTest::newRow("endless URL") << "GET /" + m2 << "HTTP/1.1 414" << true;
        QTest::newRow("header over 8 KiB")
            << Get("/", "X-A: " + k9 + "\r\n") << "HTTP/1.1 431" << true;
        QTest::newRow("endless header") << "GET / HTTP/1.1\r\nX-A: " + m2 << "HTTP/1.1 431" << true;
        QTest::newRow("many headers")
            << "GET / HTTP/1.1\r\n" + QByteArray("X-A: b\r\n").repeated(1 << 18) << "HTTP/1.1 431"
            << true;
        QTest::newRow("header under 8 KiB")
            << Get("/-/healthy", "X-A: " + QByteArray(8000, 'a') + "\r\n") << "Healthy" << false;
        QTest::newRow("body") << QByteArray(
                                     "POST /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello")
                              << "HTTP/1.1 413" << true;
        QTest::newRow("GET with a body") << Get("/metrics", "Content-Length: 1000000\r\n") + "abc"
                                         << "HTTP/1.1 413" << true;
        QTest::newRow("chunked body")
            << Get("/metrics", "Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\n"
            << "HTTP/1.1 413" << true;
        QTest::newRow("HEAD") << QByteArray("HEAD /-/healthy HTTP/1.1\r\nHost: x\r\n\r\n")
                              << "Content-Length: 8\r\n"
                              << false;
        QTest::newRow("silent connection closed") << QByteArray() << QString() << true;
        QTest::newRow("'+', '%' and '&' decoded")
            << Get("/probe?target=1%2B2+3%25%26x&b=c") << "\"1+2 3%&x\"" << false;
        QTest::newRow("':' decoded")
            << Get("/probe?target=127.0.0.1%3APORT") << "probe_success 1" << false;
    }
    void limits() {
        QFETCH(QByteArray, request);
        QFETCH(QString, replyText);
        const QByteArray reply = replyText.toUtf8();
        QFETCH(bool, closes);
        quint16 port = 0;
        HttpLimits limits;
        limits.idleSeconds = 1;
        const auto server = serve(limits, {}, &port);
        QVERIFY(server);
        QTcpSocket socket;
        QElapsedTimer clock;
        clock.start();
        const QByteArray r =
            Send(socket, port, request.replace("PORT", QByteArray::number(sim_->port(0))),
                 closes ? QByteArray() : reply);
        // A request without end is never read whole: closing on the unread rest resets the
        // connection, which may lose the answer on its way.
        QVERIFY2(r.contains(reply) || (r.isEmpty() && !request.contains("\r\n\r\n")),
                 r.left(300).constData());
        QCOMPARE(socket.state() == QAbstractSocket::UnconnectedState, closes);
        // Refused at once; only the silent client waits, for its idle time.
        QVERIFY2(!closes || clock.elapsed() < (reply.isEmpty() ? 2500 : 1000),
                 qPrintable(QString::number(clock.elapsed())));
        if (request.startsWith("HEAD"))
            QVERIFY(!r.contains("Healthy"));
    }

    // At the cap a new client waits, and uses no processor meanwhile; it is served once a place
    // frees.
    void connectionCap() {
        quint16 port = 0;
        HttpLimits limits;
        limits.connections = 8;
        const auto server = serve(limits, {}, &port);
        QVERIFY(server);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 8; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        const std::clock_t cpu = std::clock();
        QTcpSocket late;
        QVERIFY(!Send(late, port, Get("/-/healthy"), "Healthy", 1000).contains("Healthy"));
        QVERIFY2(std::clock() - cpu < CLOCKS_PER_SEC / 4, "the accept loop spins");
        idle.front()->abort();
        QVERIFY(QTest::qWaitFor([&] { return late.readAll().contains("Healthy"); }, 3000));
    }

    // The first probe's module is silent: a server that answered in completion order would put
    // /metrics first, and a client would take one answer for the other. Then the server goes
    // while another probe of it waits; that probe's answer comes after, to nobody.
    void pipelinedInOrderAndStop() {
        quint16 port = 0;
        auto server = serve({}, {}, &port);
        QVERIFY(server);
        sim_->module(0).setMisbehaviour(CmdReadStatistics, {MisbehaviourKind::Silent});
        QTcpSocket socket, last;
        const QByteArray r =
            Send(socket, port,
                 Get("/probe?target=" + moduleA(), "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n") +
                     Get("/metrics"),
                 "kestrel_exporter_build_info");
        const qsizetype probe = r.indexOf("probe_success 0");
        QVERIFY2(probe >= 0, r.constData());
        QVERIFY(r.indexOf("kestrel_exporter_build_info") > probe);
        QVERIFY(QTest::qWaitFor([&] { return exporter_->inFlight() == 0; }, 5000));
        Send(last, port, Get("/probe?target=" + moduleA()), "never", 300);
        QCOMPARE(exporter_->inFlight(), 1);
        server.reset();
        QVERIFY(QTest::qWaitFor([&] { return exporter_->inFlight() == 0; }, 8000));
        sim_->module(0).setMisbehaviourForAll({});
        QVERIFY(!last.readAll().contains("HTTP/1.1"));
    }

    void basicAuth_data() {
        QTest::addColumn<QByteArray>("credentials");  // user:password, empty for none
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("checks");  // bcrypt checks it costs
        QTest::newRow("none") << QByteArray() << 401 << 0;
        QTest::newRow("wrong password") << QByteArray("prom:secreT") << 401 << 1;
        QTest::newRow("unknown user") << QByteArray("root:secret") << 401 << 1;
        QTest::newRow("right") << QByteArray("prom:secret") << 200 << 1;
        QTest::newRow("right again, cached") << QByteArray("prom:secret") << 200 << 0;
    }
    void basicAuth() {
        QFETCH(QByteArray, credentials);
        QFETCH(int, status);
        QFETCH(int, checks);
        static quint16 port = 0;
        auto& server = authServer_;  // one cache for the rows
        if (!server) {
            char salt[CRYPT_GENSALT_OUTPUT_SIZE];
            crypt_data data{};
            QVERIFY(crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt));
            WebConfig web;
            web.users["prom"] = crypt_r("secret", salt, &data);
            server = serve({}, web, &port);
            QVERIFY(server);
        }
        const int before = server->passwordChecks();
        QTcpSocket socket;
        const QByteArray r =
            Send(socket, port,
                 Get("/-/ready", credentials.isEmpty()
                                     ? QByteArray()
                                     : "Authorization: Basic " + credentials.toBase64() + "\r\n"),
                 "\r\n\r\n");
        QVERIFY2(r.startsWith("HTTP/1.1 " + QByteArray::number(status)), r.constData());
        QCOMPARE(r.contains("WWW-Authenticate: Basic realm=\"kestrel-exporter\""), status == 401);
        QCOMPARE(server->passwordChecks() - before, checks);
    }

    void tls() {
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (openssl.isEmpty())
            QSKIP("openssl is not installed");
        QProcess make;
        make.setWorkingDirectory(dir_.path());
        make.start(openssl, QStringLiteral("req -x509 -newkey ec -pkeyopt "
                                           "ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
                                           "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                                           "-keyout key.pem -out cert.pem")
                                .split(' '));
        QVERIFY(make.waitForFinished(20000) && make.exitCode() == 0);
        QString error;
        const auto web =
            ParseWebConfig("tls_server_config:\n  cert_file: cert.pem\n  key_file: 'key.pem'\n",
                           dir_.path(), &error);
        QVERIFY2(web, qPrintable(error));
        quint16 port = 0;
        const auto server = serve({}, *web, &port);
        QVERIFY(server);
        QSslSocket socket;
        QSslConfiguration ssl = socket.sslConfiguration();
        ssl.setCaCertificates(QSslCertificate::fromPath(dir_.filePath(QStringLiteral("cert.pem"))));
        socket.setSslConfiguration(ssl);
        QVERIFY(Send(socket, port, Get("/-/healthy"), "Healthy").contains("Healthy"));
        QVERIFY(socket.isEncrypted());
        QTcpSocket plain;
        QVERIFY(!Send(plain, port, Get("/-/healthy"), "Healthy", 1500).contains("Healthy"));
    }

    void webConfig_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");  // empty: read
        const QByteArray hash = "$2y$10$" + QByteArray(53, 'A');
        QTest::newRow("empty") << QByteArray("# nothing\n") << "";
        QTest::newRow("users") << "---\nbasic_auth_users:\n  a: " + hash + "  # x\n  'b c': \"" +
                                      hash + "\"\n"
                               << "";
        QTest::newRow("unknown key")
            << QByteArray("\nhttp_server_config:\n") << "строка 2: неизвестный";
        QTest::newRow("client CA")
            << QByteArray("tls_server_config:\n  cert_file: a\n  client_ca_file: b\n")
            << "строка 3: неизвестный ключ tls_server_config";
        QTest::newRow("not bcrypt") << QByteArray("basic_auth_users:\n  a: $1$abc\n") << "строка 2";
        QTest::newRow("tab") << "basic_auth_users:\n\ta: " + hash << "строка 2: табуляция";
        QTest::newRow("flow") << QByteArray("tls_server_config: {}\n") << "строка 1";
        QTest::newRow("twice") << "basic_auth_users:\n  a: " + hash + "\n  a: " + hash
                               << "строка 3: пользователь \"a\" второй раз";
        QTest::newRow("indent") << "basic_auth_users:\n  a: " + hash + "\n    b: " + hash
                                << "строка 3: отступ";
        QTest::newRow("key file missing") << QByteArray("tls_server_config:\n  cert_file: a\n")
                                          << "нужны и cert_file, и key_file";
        QTest::newRow("no such file")
            << QByteArray("tls_server_config:\n  cert_file: none\n  key_file: none\n") << "none";
    }
    void webConfig() {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QString why;
        const auto config = ParseWebConfig(text, dir_.path(), &why);
        QCOMPARE(!config, !error.isEmpty());
        QVERIFY2(why.contains(error), qPrintable(why));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--bogus"};
        QTest::newRow("concurrency 0") << QStringList{"--concurrency", "0"};
        QTest::newRow("concurrency 1025") << QStringList{"--concurrency", "1025"};
        QTest::newRow("idle time-out 0") << QStringList{"--idle-timeout", "0"};
        QTest::newRow("web config missing") << QStringList{"--web.config.file", "/nonexistent"};
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../kestrel-exporter"),
                arguments);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "test_http.moc"
