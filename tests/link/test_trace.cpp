// The exchange trace read back after a known sequence against the simulator: an answer, a type
// 255, a close without a word, a time-out and a refused connect, every field of every line; and
// the cap that moves a full file aside.
#include <QTemporaryDir>
#include <QtTest>

#include "link/pending.h"
#include "link/trace.h"
#include "support/recording_shell.h"
#include "support/sim_pair.h"

class TraceTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    QTemporaryDir dir_;

    // One exchange to the module (or to `port`), to its end; a silent module is given up by ticks.
    void exchange(uint8_t type, const QString& port = {}) {
        QObject window;
        PendingTable table;
        ReceiveBuffer buffer{};
        bool ended = false;
        const Continuation done{&window, 1, [&](Sender) {
                                    ended = true;
                                    table.remove(&window, 1);
                                }};
        const uint8_t request[2] = {GroupConfig, type};
        ConnectionRef started;
        QVERIFY(SendCommand(QStringLiteral("127.0.0.1"),
                            port.isEmpty() ? QString::number(sim_->port(0)) : port, done, request,
                            2, buffer, &started)
                    .isEmpty());
        QVERIFY(table.add(done, &window, started));
        for (int tick = 0; !ended && tick < 200; ++tick) {
            QTest::qWait(10);
            if (tick > 20 && RequestSent(started))
                table.tick();
        }
        QVERIFY(ended);
    }

  private slots:
    void initTestCase() {
        std::string error;
        sim_ = StartSimulatedPair(&error);
        QVERIFY2(sim_, error.c_str());
    }
    void cleanupTestCase() {
        StopTrace();
        sim_->stop();
        QVERIFY(WaitForReceiveThreads(5000));
    }

    void knownSequence() {
        const QString path = dir_.filePath(QStringLiteral("trace.log"));
        QVERIFY(StartTrace(path));
        SimModule& a = sim_->module(0);
        exchange(CmdConnect);
        a.setMisbehaviour(CmdReadConfig, {MisbehaviourKind::Unsupported});
        exchange(CmdReadConfig);
        a.setMisbehaviour(CmdReadConfig, {MisbehaviourKind::Close});
        exchange(CmdReadConfig);
        a.setMisbehaviour(CmdReadConfig, {MisbehaviourKind::Silent});
        exchange(CmdReadConfig);
        exchange(CmdConnect, QStringLiteral("1"));
        StopTrace();
        a.setMisbehaviourForAll({});

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        const QString at = QStringLiteral("127.0.0.1:%1").arg(sim_->port(0));
        const QStringList expected = {
            at + " connect 0101 0101 answer",        at + " read-config 0102 01ff wrong-answer",
            at + " read-config 0102 - closed",       at + " read-config 0102 - time-out",
            "127.0.0.1:1 connect 0101 - send-error",
        };
        QCOMPARE(lines.size(), expected.size());
        const QRegularExpression shape(QStringLiteral(
            R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d) (\S+ \S+ \S+ \S+) (\d+\.\d{3}) (\S+)$)"));
        for (int i = 0; i < lines.size(); ++i) {
            const auto m = shape.match(lines[i]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(m.captured(2) + ' ' + m.captured(4), expected[i]);
            // The silent module is given up only after the ticks, everything else at once.
            const double ms = m.captured(3).toDouble();
            QVERIFY2(i == 3 ? ms > 200 : ms < 200, qPrintable(lines[i]));
        }
    }

    // A folder where FILE.1 goes makes every rotation fail: said once, and the trace stops
    // instead of growing past its cap.
    void capMovesTheFileAside_data() {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("rotated") << false;
        QTest::newRow("rotation fails") << true;
    }
    void capMovesTheFileAside() {
        QFETCH(bool, blocked);
        const QString path = dir_.filePath(QStringLiteral("capped%1.log").arg(blocked));
        QVERIFY(!blocked || QDir().mkpath(path + ".1/x"));
        RecordingShell shell;
        QVERIFY(StartTrace(path, 300));
        for (int i = 0; i < 6; ++i)
            exchange(CmdConnect);
        StopTrace();
        QVERIFY(QFileInfo(path).size() <= 300);
        QCOMPARE(shell.log.filter(QStringLiteral("Трасса")).size(), blocked ? 1 : 0);
        QVERIFY(QFileInfo(path).size() > 0);
        QVERIFY(blocked || QFileInfo(path + ".1").size() <= 300);
        QVERIFY(blocked || QFileInfo(path + ".1").size() > 0);
    }

    void fullDiskSaidOnce() {
        RecordingShell shell;
        QVERIFY(StartTrace(QStringLiteral("/dev/full")));
        for (int i = 0; i < 3; ++i)
            exchange(CmdConnect);
        StopTrace();
        QCOMPARE(shell.log.filter(QStringLiteral("Трасса /dev/full")).size(), 1);
    }

    // A link planted at the trace's path is not followed.
    void symbolicLinkRefused() {
        const QString path = dir_.filePath(QStringLiteral("link.log"));
        QVERIFY(QFile::link(dir_.filePath(QStringLiteral("target")), path));
        QVERIFY(!StartTrace(path));
        QVERIFY(!QFileInfo::exists(dir_.filePath(QStringLiteral("target"))));
    }
};

QTEST_GUILESS_MAIN(TraceTest)
#include "test_trace.moc"
