// The exporter in this process against the simulated pair, asked over real HTTP: what a probe
// answers and when, what is refused without dialling, the text promtool accepts, and 1,000 probes
// that leave descriptors and memory where they were.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "cli/clishell.h"
#include "exporter/exporter.h"
#include "link/pending.h"
#include "support/process_stats.h"
#include "support/sim_pair.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed memory sits in the sanitizer's quarantine: LeakSanitizer checks at exit instead.
constexpr bool kMemoryBounded = false;
#else
constexpr bool kMemoryBounded = true;
#endif

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    qint64 ms = 0;
};

}  // namespace

class ExporterTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Exporter> exporter_;
    std::unique_ptr<LinkClock> clock_;
    StderrShell shell_;
    QNetworkAccessManager http_;
    quint16 port_ = 0;

    QString at(int module) const {
        return QStringLiteral("127.0.0.%1:%2").arg(module + 1).arg(sim_->port(module));
    }
    Reply get(const QString& path, double scrapeTimeout = 0) {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path)));
        if (scrapeTimeout > 0)
            request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds",
                                 QByteArray::number(scrapeTimeout));
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = http_.get(request);
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        const Reply r{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->readAll(), clock.elapsed()};
        reply->deleteLater();
        return r;
    }

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
        port_ = exporter_->listen(QHostAddress::LocalHost, 0);
        QVERIFY(port_ != 0);
        // The exporter's own tick: a silent module is given up by the link only after 2 to 3 s,
        // so a probe that ends sooner ended by the scrape's time-out.
        clock_ = std::make_unique<LinkClock>(1000);
    }
    void cleanupTestCase() {
        exporter_.reset();
        sim_->stop();
        QVERIFY(WaitForReceiveThreads(5000));
        SetShell(nullptr);
    }

    void probes_data() {
        QTest::addColumn<QString>("target");  // "A" stands for module A's ADDR:PORT
        QTest::addColumn<int>("kind");        // how A answers its statistics request
        QTest::addColumn<double>("scrape");   // the scrape's time-out, 0 for none
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("maxMs");
        const int normal = int(MisbehaviourKind::Normal);
        QTest::newRow("answer") << "A" << normal << 0.0 << 200 << "probe_success 1" << 2000;
        QTest::newRow("encoded as Prometheus sends it")
            << "A%" << normal << 0.0 << 200 << "probe_success 1" << 2000;
        QTest::newRow("counter")
            << "A" << normal << 0.0 << 200
            << "kestrel_packets_total{section=\"transit\",counter=\"txtonetwork\",path=\"2\"} "
            << 2000;
        QTest::newRow("255") << "A" << int(MisbehaviourKind::Unsupported) << 0.0 << 200
                             << "probe_success 0" << 2000;
        QTest::newRow("silent, within the scrape")
            << "A" << int(MisbehaviourKind::Silent) << 1.2 << 200 << "probe_success 0" << 1100;
        QTest::newRow("outside --allow")
            << "B" << normal << 0.0 << 400 << "вне разрешённых диапазонов" << 2000;
        QTest::newRow("malformed")
            << "127.0.0.1:99999" << normal << 0.0 << 400 << "ожидается ADDR[:PORT]" << 2000;
        QTest::newRow("no target") << "" << normal << 0.0 << 400 << "ожидается ADDR[:PORT]" << 2000;
    }
    void probes() {
        QFETCH(QString, target);
        QFETCH(int, kind);
        QFETCH(double, scrape);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(int, maxMs);
        sim_->module(0).setMisbehaviour(CmdReadStatistics, {MisbehaviourKind(kind)});
        const size_t requestsB = sim_->module(1).requestCount();
        const Reply r = get(QStringLiteral("/probe?target=") +
                                (target == "A"    ? at(0)
                                 : target == "A%" ? QString(at(0)).replace(':', "%3A")
                                 : target == "B"  ? at(1)
                                                  : target),
                            scrape);
        sim_->module(0).setMisbehaviourForAll({});
        QCOMPARE(r.status, status);
        QVERIFY2(r.body.contains(body.toUtf8()), r.body.constData());
        QVERIFY2(r.ms <= maxMs, qPrintable(QString::number(r.ms)));
        QCOMPARE(sim_->module(1).requestCount(), requestsB);  // nothing dialled outside --allow
    }

    void promtoolAcceptsBoth() {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool is not installed");
        for (const QString& path :
             {QStringLiteral("/probe?target=") + at(0), QStringLiteral("/metrics")}) {
            const Reply r = get(path);
            QProcess check;
            check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
            check.write(r.body);
            check.closeWriteChannel();
            QVERIFY(check.waitForFinished(20000));
            QVERIFY2(check.exitCode() == 0, check.readAll().constData());
        }
    }

    void thousandProbesLeaveNothing() {
        for (int i = 0; i < 100; ++i)
            QVERIFY(get(QStringLiteral("/probe?target=") + at(0)).body.contains("probe_success 1"));
        QTest::qWait(50);
        const int fds = OpenFdCount();
        const long rss = StatusKb("VmRSS:");
        for (int i = 0; i < 1000; ++i)
            QVERIFY(get(QStringLiteral("/probe?target=") + at(0)).body.contains("probe_success 1"));
        QTest::qWait(50);
        QVERIFY(WaitForReceiveThreads(5000));
        QCOMPARE(OpenFdCount(), fds);
        QVERIFY2(!kMemoryBounded || StatusKb("VmRSS:") - rss < 2048,
                 qPrintable(QString::number(StatusKb("VmRSS:") - rss)));
        QCOMPARE(PendingRequestCount(), 0);
        const QByteArray own = get(QStringLiteral("/metrics")).body;
        QVERIFY(own.contains("kestrel_exporter_probes_in_flight 0"));
    }
};

QTEST_GUILESS_MAIN(ExporterTest)
#include "test_exporter.moc"
