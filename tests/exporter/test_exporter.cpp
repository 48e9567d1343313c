// The exporter in this process against the simulated pair and a listener that never answers: what
// a probe answers and when, what is refused or expires without dialling, the text promtool
// accepts, totals across the 16-bit wrap, and 1,000 probes that leave descriptors and memory where
// they were.
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "exporter/exporter.h"
#include "headless/clishell.h"
#include "model/statcolumns.h"
#include "support/process_stats.h"
#include "support/sim_pair.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed memory sits in the sanitizer's quarantine: LeakSanitizer checks at exit instead.
constexpr bool kMemoryBounded = false;
#else
constexpr bool kMemoryBounded = true;
#endif

namespace {

// Puts a raw value where the module's block keeps that counter, found by trying each word.
void setCounter(StatisticsBlock& block, const StatColumn& column, int value) {
    for (size_t at = 0; at + 1 < block.size(); ++at) {
        StatisticsBlock probe{};
        probe[at] = 0x12;
        probe[at + 1] = 0x34;
        const uint16_t read = StatColumnValue(probe, column);
        if (read == 0x1234 || read == 0x3412) {
            block[at] = uint8_t(read == 0x1234 ? value >> 8 : value);
            block[at + 1] = uint8_t(read == 0x1234 ? value : value >> 8);
            return;
        }
    }
    QFAIL("no word of the block holds the counter");
}

struct Reply {
    int status = 0;
    QByteArray body;
    qint64 ms = -1;  // -1 until answered
};

// Takes connections and never answers: a module that is there and silent.
class SilentListener : public QTcpServer {
  public:
    int accepted = 0;

  protected:
    void incomingConnection(qintptr descriptor) override {
        ++accepted;
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
    }
};

}  // namespace

class ExporterTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Exporter> exporter_;
    StderrShell shell_;
    SilentListener silent_;

    QString at(int module) const {
        return QStringLiteral("127.0.0.%1:%2").arg(module + 1).arg(sim_->port(module));
    }
    // Hands the exporter a request as its HTTP face does; the reply fills in when answered.
    std::shared_ptr<Reply> start(Exporter& exporter, const QString& path, double scrape = 0,
                                 const QByteArray& scrapeText = {}) {
        HttpRequest request{
            "GET", path.section('?', 0, 0).toLatin1(), QUrlQuery(path.section('?', 1)), {}};
        if (scrape > 0 || !scrapeText.isEmpty())
            request.headers.emplace_back(
                "x-prometheus-scrape-timeout-seconds",
                scrapeText.isEmpty() ? QByteArray::number(scrape) : scrapeText);
        auto reply = std::make_shared<Reply>();
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        exporter.handle(request, [reply, clock](HttpResponse r) {
            *reply = {r.status, r.body, clock->elapsed()};
        });
        return reply;
    }
    static bool wait(const std::vector<std::shared_ptr<Reply>>& replies, int ms = 20000) {
        return QTest::qWaitFor(
            [&] {
                return std::all_of(replies.begin(), replies.end(),
                                   [](const auto& r) { return r->ms >= 0; });
            },
            ms);
    }
    Reply get(const QString& path, double scrape = 0, const QByteArray& scrapeText = {}) {
        const auto reply = start(*exporter_, path, scrape, scrapeText);
        wait({reply});
        return *reply;
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
        options.allow << QHostAddress::parseSubnet(QStringLiteral("127.0.1.0/24"));
        exporter_ = std::make_unique<Exporter>(options);
        QVERIFY(silent_.listen(QHostAddress::Any, 0));
        // A silent module is given up by the link only after its 3 s answer time-out, so a probe
        // that ends sooner ended by the scrape's time-out.
    }
    void cleanupTestCase() {
        exporter_.reset();
        sim_->stop();
        QVERIFY(WaitForReceiveThreads(5000));
        SetShell(nullptr);
    }

    void probes_data() {
        QTest::addColumn<QString>("target");     // "A" stands for module A's ADDR:PORT
        QTest::addColumn<int>("kind");           // how A answers its statistics request
        QTest::addColumn<QByteArray>("scrape");  // the scrape's time-out header, empty for none
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        const int normal = int(MisbehaviourKind::Normal);
        QTest::newRow("answer") << "A" << normal << QByteArray() << 200 << "probe_success 1" << 0
                                << 2000;
        QTest::newRow("encoded as Prometheus sends it")
            << "A%" << normal << QByteArray() << 200 << "probe_success 1" << 0 << 2000;
        QTest::newRow("counter")
            << "A" << normal << QByteArray() << 200
            << "kestrel_packets_total{section=\"transit\",counter=\"txtonetwork\",path=\"2\"} " << 0
            << 2000;
        QTest::newRow("255") << "A" << int(MisbehaviourKind::Unsupported) << QByteArray() << 200
                             << "probe_success 0" << 0 << 2000;
        // 1.2 s less the 0.5 s offset, on a timer that does not drift by a coarse tick.
        QTest::newRow("silent, ends on its deadline")
            << "A" << int(MisbehaviourKind::Silent) << QByteArray("1.2") << 200 << "probe_success 0"
            << 700 << 740;
        QTest::newRow("outside --allow")
            << "B" << normal << QByteArray() << 400 << "вне разрешённых диапазонов" << 0 << 2000;
        QTest::newRow("malformed") << "127.0.0.1:99999" << normal << QByteArray() << 400
                                   << "ожидается ADDR[:PORT]" << 0 << 2000;
        QTest::newRow("no target")
            << "" << normal << QByteArray() << 400 << "ожидается ADDR[:PORT]" << 0 << 2000;
        for (const char* scrape : {"inf", "nan", "-1", "1e400", "3601", "0", "ten"})
            QTest::newRow(qPrintable(QStringLiteral("scrape time-out %1").arg(scrape)))
                << "A" << normal << QByteArray(scrape) << 400
                << "X-Prometheus-Scrape-Timeout-Seconds" << 0 << 2000;
    }
    void probes() {
        QFETCH(QString, target);
        QFETCH(int, kind);
        QFETCH(QByteArray, scrape);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        sim_->module(0).setMisbehaviour(CmdReadStatistics, {MisbehaviourKind(kind)});
        const size_t requestsA = sim_->module(0).requestCount();
        const size_t requestsB = sim_->module(1).requestCount();
        const Reply r = get(QStringLiteral("/probe?target=") +
                                (target == "A"    ? at(0)
                                 : target == "A%" ? QString(at(0)).replace(':', "%3A")
                                 : target == "B"  ? at(1)
                                                  : target),
                            0, scrape);
        QVERIFY(QTest::qWaitFor([&] { return exporter_->inFlight() == 0; }, 5000));
        sim_->module(0).setMisbehaviourForAll({});
        QCOMPARE(r.status, status);
        QVERIFY2(r.body.contains(body.toUtf8()), r.body.constData());
        QVERIFY2(r.ms >= minMs && r.ms <= maxMs, qPrintable(QString::number(r.ms)));
        QCOMPARE(sim_->module(1).requestCount(), requestsB);  // nothing dialled outside --allow
        if (status != 200)                                    // nor for a request refused
            QCOMPARE(sim_->module(0).requestCount(), requestsA);
    }

    void pages_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("method");
        QTest::newRow("landing page") << "/" << 200 << "href=\"/metrics\""
                                      << "GET";
        QTest::newRow("healthy") << "/-/healthy" << 200 << "Healthy"
                                 << "GET";
        QTest::newRow("ready") << "/-/ready" << 200 << "Ready"
                               << "GET";
        QTest::newRow("build") << "/metrics" << 200
                               << "kestrel_exporter_build_info{version=\"" KESTREL_VERSION "\"} 1"
                               << "GET";
        QTest::newRow("own descriptors") << "/metrics" << 200 << "\nprocess_open_fds "
                                         << "GET";
        QTest::newRow("unknown") << "/probes" << 404 << ""
                                 << "GET";
        QTest::newRow("a known page's folder") << "/-/healthy/" << 404 << "Not found: see /"
                                               << "GET";
        QTest::newRow("a body's method") << "/probe?target=A" << 405 << ""
                                         << "POST";
    }
    void pages() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, method);
        Reply r;
        exporter_->handle({method.toLatin1(), path.section('?', 0, 0).toLatin1(), {}, {}},
                          [&](HttpResponse answer) {
                              r = {answer.status, answer.body, 0};
                          });
        QCOMPARE(r.status, status);
        QVERIFY2(r.body.contains(body.toUtf8()), r.body.constData());
    }

    // Probes of silent modules beside one of A: one exchange a module however many probes ask,
    // none for a probe whose scrape ended while it waited, and no healthy probe kept waiting by
    // silent ones.
    void scheduling_data() {
        QTest::addColumn<int>("concurrency");
        QTest::addColumn<int>("queueLimit");
        QTest::addColumn<int>("silentModules");
        QTest::addColumn<int>("probesEach");
        QTest::addColumn<QByteArray>("scrapeA");
        QTest::addColumn<QString>("bodyA");
        QTest::addColumn<int>("maxMsA");
        QTest::addColumn<bool>("dialledA");
        QTest::addColumn<QString>("ownLine");
        QTest::addColumn<int>("dialled");  // connections the silent modules took
        QTest::newRow("one exchange for 50 probes of one module")
            << 128 << 4096 << 1 << 50 << QByteArray() << "probe_success 1" << 500 << true
            << "reason=\"timeout\"} 50" << 1;
        QTest::newRow("40 silent modules do not hold a healthy one up")
            << 128 << 4096 << 40 << 1 << QByteArray() << "probe_success 1" << 500 << true
            << "reason=\"expired\"} 0" << 40;
        QTest::newRow("expired in the queue: never dialled")
            << 1 << 4096 << 1 << 1 << QByteArray("0.6") << "probe_success 0" << 300 << false
            << "reason=\"expired\"} 1" << 1;
        // One silent module talked to, one waiting: the queue is full for A, which is refused
        // at once; the waiting one expires undialled.
        QTest::newRow("queue full") << 1 << 1 << 2 << 1 << QByteArray() << "probe_success 0" << 100
                                    << false << "reason=\"queue_full\"} 1" << 1;
    }
    void scheduling() {
        QFETCH(int, concurrency);
        QFETCH(int, queueLimit);
        QFETCH(int, silentModules);
        QFETCH(int, probesEach);
        QFETCH(QByteArray, scrapeA);
        QFETCH(QString, bodyA);
        QFETCH(int, maxMsA);
        QFETCH(bool, dialledA);
        QFETCH(QString, ownLine);
        QFETCH(int, dialled);
        ExporterOptions options;
        options.allow << QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"));
        options.concurrency = concurrency;
        options.queueLimit = queueLimit;
        Exporter exporter(options);
        silent_.accepted = 0;
        std::vector<std::shared_ptr<Reply>> replies;
        // The first silent module's scrape outlasts the others', so that one waiting behind it
        // ends before the slot comes free rather than in the same millisecond.
        for (int m = 0; m < silentModules; ++m) {
            for (int i = 0; i < probesEach; ++i)
                replies.push_back(start(exporter,
                                        QStringLiteral("/probe?target=127.0.1.%1:%2")
                                            .arg(m + 1)
                                            .arg(silent_.serverPort()),
                                        m == 0 ? 1.5 : 1.0));
        }
        const size_t requestsA = sim_->module(0).requestCount();
        const auto a = start(exporter, QStringLiteral("/probe?target=") + at(0), 0, scrapeA);
        QVERIFY(wait({a}));
        QVERIFY2(a->body.contains(bodyA.toUtf8()), a->body.constData());
        QVERIFY2(a->ms <= maxMsA, qPrintable(QString::number(a->ms)));
        QVERIFY(wait(replies));
        QCOMPARE(sim_->module(0).requestCount() > requestsA, dialledA);
        QCOMPARE(silent_.accepted, dialled);
        QVERIFY2(exporter.ownMetrics().contains(ownLine.toUtf8()),
                 exporter.ownMetrics().constData());
        QVERIFY(QTest::qWaitFor([&] { return exporter.inFlight() == 0; }, 5000));
    }

    // Every line of the log goes out under the module it is about, the link's own line of a
    // refused connection too.
    void logLinesNameTheirModule() {
        FILE* file = std::tmpfile();
        StderrShell shell(file);
        shell.setHoldUnnamed(true);
        SetShell(&shell);
        ExporterOptions options;
        options.allow << QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"));
        Exporter exporter(options, &shell);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString refused = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        sim_->module(0).setMisbehaviour(CmdReadStatistics, {MisbehaviourKind::Unsupported});
        const auto a = start(exporter, QStringLiteral("/probe?target=") + at(0));
        const auto b = start(exporter, QStringLiteral("/probe?target=") + refused);
        QVERIFY(wait({a, b}));
        sim_->module(0).setMisbehaviourForAll({});
        SetShell(&shell_);
        std::rewind(file);
        char buffer[4096] = {};
        const QStringList lines =
            QString::fromUtf8(buffer, int(std::fread(buffer, 1, sizeof buffer - 1, file)))
                .split('\n', Qt::SkipEmptyParts);
        std::fclose(file);
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines)
            QVERIFY2(line.startsWith(at(0) + ": ") || line.startsWith(refused + ": Ошибка"),
                     qPrintable(line));
        QVERIFY(lines[0].section(':', 0, 1) != lines[1].section(':', 0, 1));
    }

    // Two counters read in turn, raw as the module holds them, and the totals the exporter
    // exposes after the last read.
    void totalsAcrossTheWrap_data() {
        QTest::addColumn<QList<int>>("first");   // raw reads of a session counter
        QTest::addColumn<QList<int>>("second");  // the same reads of a total
        QTest::addColumn<qulonglong>("firstTotal");
        QTest::addColumn<qulonglong>("secondTotal");
        QTest::newRow("first read") << QList{40000} << QList{7} << 40000ull << 7ull;
        QTest::newRow("rise") << QList{10, 30} << QList{5, 5} << 30ull << 5ull;
        QTest::newRow("wrap") << QList{65000, 464} << QList{5, 6} << 66000ull << 6ull;
        QTest::newRow("wrap while the other stands")
            << QList{65000, 10} << QList{7, 7} << 65546ull << 7ull;
        QTest::newRow("wraps on three reads")
            << QList{60000, 1000, 50000, 200} << QList{3, 3, 3, 3} << 131272ull << 3ull;
        QTest::newRow("clear: both fall at once") << QList{500, 3} << QList{7, 0} << 503ull << 7ull;
        QTest::newRow("the only counter moving falls: a wrap")
            << QList{65000, 10} << QList{0, 0} << 65546ull << 0ull;
        QTest::newRow("rise from zero is no clear") << QList{0, 0} << QList{0, 5} << 0ull << 5ull;
    }
    void totalsAcrossTheWrap() {
        QFETCH(QList<int>, first);
        QFETCH(QList<int>, second);
        QFETCH(qulonglong, firstTotal);
        QFETCH(qulonglong, secondTotal);
        const auto& columns = StatColumns();
        const size_t other = columns.size() - 1;
        QVERIFY(!columns[0].total && columns[other].total);
        CounterTotals totals;
        for (int i = 0; i < first.size(); ++i) {
            StatisticsBlock block{};
            setCounter(block, columns[0], first[i]);
            setCounter(block, columns[other], second[i]);
            totals.add(block);
        }
        QCOMPARE(totals.totals()[0], firstTotal);
        QCOMPARE(totals.totals()[other], secondTotal);
        QCOMPARE(totals.totals()[1], 0ull);
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
        QCOMPARE(OpenExchangeCount(), 0);
        const QByteArray own = get(QStringLiteral("/metrics")).body;
        QVERIFY(own.contains("kestrel_exporter_probes_in_flight 0"));
    }
};

QTEST_GUILESS_MAIN(ExporterTest)
#include "test_exporter.moc"
