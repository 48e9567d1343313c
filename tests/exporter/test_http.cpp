// The exporter behind its HTTP server, asked over real sockets: what a client cannot make it hold
// (long lines, endless heads, bodies, idle and surplus connections), answers in request order,
// basic auth, TLS, and the web configuration file's errors.
#include <crypt.h>
#include <sys/resource.h>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "exporter/exporter.h"
#include "headless/clishell.h"
#include "support/sim_pair.h"

namespace {

// Sends `request` and reads until `until` has come, the server has closed, or `ms` have passed;
// the event loop runs all along, since the exporter answers on this thread.
QByteArray Send(QTcpSocket& socket, quint16 port, const QByteArray& request,
                const QByteArray& until = {}, int ms = 4000) {
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

// A GET with one more header line, if any.
QByteArray Get(const QByteArray& path, const QByteArray& header = {}) {
    return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + header + (header.isEmpty() ? "" : "\r\n") +
           "\r\n";
}

}  // namespace

class HttpTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Exporter> exporter_;
    StderrShell shell_;
    QTemporaryDir dir_;
    std::unique_ptr<HttpServer> authServer_;
    quint16 port_ = 0;

    // A server for the exporter with these limits and web settings, on a port of its own.
    std::unique_ptr<HttpServer> serve(HttpLimits limits = {}, WebConfig web = {}) {
        auto server = std::make_unique<HttpServer>(
            std::bind_front(&Exporter::handle, exporter_.get()), limits, std::move(web));
        QString reason;
        port_ = server->listen(QHostAddress::LocalHost, 0, &reason);
        return port_ ? std::move(server) : nullptr;
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

    // A refusal (4xx) closes the connection, as does silence; an answer keeps it.
    void limits_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("replyText");  // what the answer holds; empty: no answer
        const QByteArray k9(9 * 1024, 'a'), m2(2 << 20, 'a');
        QTest::newRow("URL over 8 KiB") << Get("/probe?target=" + k9) << "HTTP/1.1 414";
        QTest::newRow("endless URL") << "GET /" + m2 << "HTTP/1.1 414";
        QTest::newRow("header over 8 KiB") << Get("/", "X-A: " + k9) << "HTTP/1.1 431";
        QTest::newRow("endless header") << "GET / HTTP/1.1\r\nX-A: " + m2 << "HTTP/1.1 431";
        QTest::newRow("many headers")
            << "GET / HTTP/1.1\r\n" + QByteArray("X-A: b\r\n").repeated(1 << 18) << "HTTP/1.1 431";
        QTest::newRow("8000 B header")
            << Get("/-/healthy", "X-A: " + QByteArray(8000, 'a')) << "Healthy";
        for (const auto& [tag, head] : std::initializer_list<std::array<const char*, 2>>{
                 {"body", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"},
                 {"GET body", "GET / HTTP/1.1\r\nContent-Length: 99\r\n\r\nabc"},
                 {"chunked", "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabc\r\n"}})
            QTest::newRow(tag) << QByteArray(head) << "HTTP/1.1 413";
        QTest::newRow("HEAD") << Get("/-/ready").replace("GET", "HEAD") << "Content-Length: 6\r\n";
        QTest::newRow("silent") << QByteArray() << QString();
        QTest::newRow("+%& decoded") << Get("/probe?target=1%2B2+3%25%26x&b=c") << "\"1+2 3%&x\"";
        QTest::newRow("':' decoded") << Get("/probe?target=127.0.0.1%3APORT") << "probe_success 1";
    }
    void limits() {
        QFETCH(QByteArray, request);
        QFETCH(QString, replyText);
        const QByteArray reply = replyText.toUtf8();
        const bool closes = reply.isEmpty() || reply.startsWith("HTTP/1.1 4");
        const auto server = serve({.idleSeconds = 1});
        QVERIFY(server);
        QTcpSocket socket;
        QElapsedTimer clock;
        clock.start();
        const QByteArray r =
            Send(socket, port_, request.replace("PORT", QByteArray::number(sim_->port(0))),
                 closes ? QByteArray() : reply);
        // A request without end is never read whole: closing on the unread rest resets the
        // connection, which may lose the answer on its way.
        QVERIFY2(r.contains(reply) || (r.isEmpty() && !request.contains("\r\n\r\n")),
                 r.left(300).constData());
        QCOMPARE(socket.state() == QAbstractSocket::UnconnectedState, closes);
        // Refused at once; only the silent client waits, for its idle time.
        QVERIFY2(!closes || clock.elapsed() < (reply.isEmpty() ? 2500 : 1000),
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!request.startsWith("HEAD") || !r.contains("Ready"));
    }

    // At the cap a new client waits, and uses no processor meanwhile; it is served once a place
    // frees.
    void connectionCap() {
        const auto server = serve({.connections = 8});
        QVERIFY(server);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 8; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, port_);
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        const std::clock_t cpu = std::clock();
        QTcpSocket late;
        QVERIFY(!Send(late, port_, Get("/-/healthy"), "Healthy", 1000).contains("Healthy"));
        QVERIFY2(std::clock() - cpu < CLOCKS_PER_SEC / 4, "the accept loop spins");
        idle.front()->abort();
        QVERIFY(QTest::qWaitFor([&] { return late.readAll().contains("Healthy"); }, 3000));
    }

    // The first probe's module is silent: a server that answered in completion order would put
    // /metrics first, and a client would take one answer for the other. Then the server goes
    // while another probe of it waits; that probe's answer comes after, to nobody.
    void pipelinedInOrderAndStop() {
        auto server = serve();
        QVERIFY(server);
        sim_->module(0).setMisbehaviour(CmdReadStatistics, {MisbehaviourKind::Silent});
        QTcpSocket socket, last;
        const QByteArray r =
            Send(socket, port_,
                 Get("/probe?target=" + moduleA(), "X-Prometheus-Scrape-Timeout-Seconds: 1") +
                     Get("/metrics"),
                 "kestrel_exporter_build_info");
        const qsizetype probe = r.indexOf("probe_success 0");
        QVERIFY2(probe >= 0 && r.indexOf("kestrel_exporter_build_info") > probe, r.constData());
        QVERIFY(QTest::qWaitFor([&] { return exporter_->inFlight() == 0; }, 5000));
        Send(last, port_, Get("/probe?target=" + moduleA()), "never", 300);
        QCOMPARE(exporter_->inFlight(), 1);
        server.reset();
        QVERIFY(QTest::qWaitFor([&] { return exporter_->inFlight() == 0; }, 8000));
        sim_->module(0).setMisbehaviourForAll({});
        QVERIFY(!last.readAll().contains("HTTP/1.1"));
    }

    void basicAuth_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("checks");  // bcrypt checks it costs
        const auto basic = [](QByteArray c) { return "Authorization: Basic " + c.toBase64(); };
        QTest::newRow("none") << QByteArray() << 401 << 0;
        QTest::newRow("wrong password") << basic("prom:secreT") << 401 << 1;
        QTest::newRow("unknown user") << basic("root:secret") << 401 << 1;
        QTest::newRow("right") << basic("prom:secret") << 200 << 1;
        QTest::newRow("right again, cached") << basic("prom:secret") << 200 << 0;
    }
    void basicAuth() {
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        QFETCH(int, checks);
        auto& server = authServer_;  // one cache for the rows
        if (!server) {
            char salt[CRYPT_GENSALT_OUTPUT_SIZE];
            crypt_data data{};
            QVERIFY(crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt));
            WebConfig web;
            web.users["prom"] = crypt_r("secret", salt, &data);
            server = serve({}, web);
            QVERIFY(server);
        }
        const int before = server->passwordChecks();
        QTcpSocket socket;
        const QByteArray r = Send(socket, port_, Get("/-/ready", header), "\r\n\r\n");
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
        make.start(openssl, QString("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                                    "-nodes -subj /CN=k -addext subjectAltName=IP:127.0.0.1 "
                                    "-keyout key.pem -out cert.pem")
                                .split(' '));
        QVERIFY(make.waitForFinished(20000) && make.exitCode() == 0);
        QString error;
        const auto web =
            ParseWebConfig("tls_server_config:\n  cert_file: cert.pem\n  key_file: 'key.pem'\n",
                           dir_.path(), &error);
        QVERIFY2(web, qPrintable(error));
        const auto server = serve({}, *web);
        QVERIFY(server);
        QSslSocket socket;
        QSslConfiguration ssl = socket.sslConfiguration();
        ssl.setCaCertificates(QSslCertificate::fromPath(dir_.filePath(QStringLiteral("cert.pem"))));
        socket.setSslConfiguration(ssl);
        QVERIFY(Send(socket, port_, Get("/-/healthy"), "Healthy").contains("Healthy"));
        QVERIFY(socket.isEncrypted());
        QTcpSocket plain;
        QVERIFY(!Send(plain, port_, Get("/-/healthy"), "Healthy", 1500).contains("Healthy"));
    }

    void webConfig_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");  // empty: read
        // H stands for a hash of bcrypt's form.
        for (const auto& [tag, text, error] : std::initializer_list<std::array<const char*, 3>>{
                 {"empty", "# nothing\n", ""},
                 {"users", "---\nbasic_auth_users:\n  a: H # x\n  'b c': 'H'", ""},
                 {"unknown key", "\nhttp_server_config:\n", "строка 2: неизвестный"},
                 {"client CA", "tls_server_config:\n  cert_file: a\n  client_ca_file: b\n",
                  "строка 3: неизвестный ключ tls_server_config"},
                 {"not bcrypt", "basic_auth_users:\n  a: $1$abc\n", "строка 2"},
                 {"tab", "basic_auth_users:\n\ta: H", "строка 2: табуляция"},
                 {"flow", "tls_server_config: {}\n", "строка 1"},
                 {"escape", "basic_auth_users:\n  \"a\\n\": H\n", "строка 2: в кавычках"},
                 {"quote doubled at a key's end", "basic_auth_users:\n  'a''': H\n  \"a'\": H",
                  "строка 3: пользователь \"a'\""},
                 {"nested", "basic_auth_users:\n  a: b: H\n", "строка 2: непонятное значение"},
                 {"twice", "basic_auth_users:\n  a: H\n  a: H", "строка 3: пользователь \"a\""},
                 {"key file missing", "tls_server_config:\n  cert_file: a\n", "нужны и cert_file"},
                 {"no such file", "tls_server_config:\n  cert_file: none\n  key_file: x", "none"}})
            QTest::newRow(tag) << QString(text).replace('H', "$2y$10$" + QString(53, 'A')) << error;
    }
    void webConfig() {
        QFETCH(QString, text);
        QFETCH(QString, error);
        QString why;
        const auto config = ParseWebConfig(text.toUtf8(), dir_.path(), &why);
        QCOMPARE(!config, !error.isEmpty());
        QVERIFY2(why.contains(error), qPrintable(why));
    }

    // Usage errors exit 2; the bounds themselves are taken, and the exporter runs on.
    void usage_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("refused");
        for (const char* a :
             {"--bogus", "--concurrency 0", "--concurrency 1025", "--idle-timeout 0",
              "--web.config.file /nonexistent", "--probe-timeout 0.09"})
            QTest::newRow(a) << a << true;
        for (const char* a : {"--probe-timeout 0.1", "--concurrency 1024", "--idle-timeout 1"})
            QTest::newRow(a) << a << false;
    }
    void usage() {
        QFETCH(QString, arguments);
        QFETCH(bool, refused);
        QTcpServer spare;  // a port nobody listens on once it is closed
        QVERIFY(spare.listen(QHostAddress::LocalHost, 0));
        const QString listen = QStringLiteral("127.0.0.1:%1").arg(spare.serverPort());
        spare.close();
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/../kestrel-exporter",
                arguments.split(' ') + QStringList{"--quiet", "--listen", listen});
        QCOMPARE(p.waitForFinished(refused ? 10000 : 500), refused);
        if (refused)
            QCOMPARE(p.exitCode(), 2);
        p.kill();
        p.waitForFinished();
    }

    // Beyond the soft limit of open files only the connection cap decides who is served.
    void openFilesRaisedToTheHardLimit() {
        rlimit files{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &files), 0);
        const rlimit lowered{std::min<rlim_t>(files.rlim_max, 256), files.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        QCOMPARE(RaiseOpenFilesLimit(), quint64(files.rlim_max));
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &files), 0);
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "test_http.moc"
