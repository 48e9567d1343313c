// The table of commands waiting for an answer and their time-outs.
#include <QtTest>

#include "link/pending.h"
#include "support/recording_shell.h"

namespace {

struct Calls {
    std::vector<std::pair<QObject*, int>> timeouts;
    Continuation handler(QObject* window, int flow) {
        return Continuation{window, flow, [this, window, flow](Sender s) {
                                if (s == Sender::Timeout)
                                    timeouts.emplace_back(window, flow);
                            }};
    }
};

}  // namespace

class PendingTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { table = PendingTable{}; }

    void timeoutOnTheThirdTick() {
        Calls calls;
        QObject window;
        QVERIFY(table.add(calls.handler(&window, 8), &window, nullptr));
        table.tick();
        table.tick();
        QVERIFY(calls.timeouts.empty());
        table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        // The timer does not release the slot: a handler that keeps it is called again.
        table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(2));
        QVERIFY(table.remove(&window, 8));
        table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(2));
    }

    void releaseFindsTheExchangeNotTheFirstSlot_data() {
        QTest::addColumn<int>("answered");
        QTest::addColumn<int>("stillWaiting");
        QTest::newRow("later answered first") << 16 << 8;
        QTest::newRow("earlier answered first") << 8 << 16;
    }
    void releaseFindsTheExchangeNotTheFirstSlot() {
        QFETCH(int, answered);
        QFETCH(int, stillWaiting);
        Calls calls;
        QObject window;
        QVERIFY(table.add(calls.handler(&window, 8), &window, nullptr));
        QVERIFY(table.add(calls.handler(&window, 16), &window, nullptr));
        QVERIFY(table.remove(&window, answered));
        QVERIFY(!table.has(&window, answered));
        QVERIFY(table.has(&window, stillWaiting));
        for (int i = 0; i < 3; ++i)
            table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].second, stillWaiting);
    }

    void twoWindowsCountDownIndependently() {
        Calls calls;
        QObject first, second;
        table.add(calls.handler(&first, 8), &first, nullptr);
        table.tick();
        table.add(calls.handler(&second, 8), &second, nullptr);
        table.tick();
        table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].first, &first);
        table.remove(&first, 8);
        table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(2));
        QCOMPARE(calls.timeouts[1].first, &second);
    }

    void fullTableRefusesAndStaysUnchanged() {
        Calls calls;
        std::vector<std::unique_ptr<QObject>> windows;
        for (int i = 0; i < kPendingSlotCount; ++i) {
            windows.push_back(std::make_unique<QObject>());
            QVERIFY(
                table.add(calls.handler(windows.back().get(), 8), windows.back().get(), nullptr));
        }
        QVERIFY(kPendingSlotCount >= 16);  // four statistics windows with two each, and more
        QObject extra;
        QVERIFY(!table.add(calls.handler(&extra, 8), &extra, nullptr));
        QCOMPARE(table.count(), kPendingSlotCount);
        QVERIFY(!table.has(&extra, 8));
        for (int i = 0; i < kPendingSlotCount; ++i)
            QCOMPARE(table.slot(i).window.data(), windows[i].get());
    }

    void releasingWhatIsNotThere() {
        Calls calls;
        QObject window, other;
        table.add(calls.handler(&window, 8), &window, nullptr);
        QVERIFY(!table.remove(&other, 8));
        QVERIFY(!table.remove(&window, 16));
        QCOMPARE(table.release(&other), 0);
        QCOMPARE(table.count(), 1);
    }

    void closingAWindowReleasesAllItsSlots() {
        Calls calls;
        QObject window, other;
        table.add(calls.handler(&window, 8), &window, nullptr);
        table.add(calls.handler(&other, 8), &other, nullptr);
        table.add(calls.handler(&window, 16), &window, nullptr);
        QCOMPARE(table.release(&window), 2);
        for (int i = 0; i < 3; ++i)
            table.tick();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].first, &other);
    }

    void aWindowThatIsGoneIsNeverCalled() {
        Calls calls;
        auto window = std::make_unique<QObject>();
        table.add(calls.handler(window.get(), 8), window.get(), nullptr);
        window.reset();
        for (int i = 0; i < 4; ++i)
            table.tick();
        QVERIFY(calls.timeouts.empty());
        QCOMPARE(table.count(), 0);
    }

    void handlerErrorIsReportedAndTheTimerGoesOn() {
        RecordingShell shell;
        QObject a, b;
        int called = 0;
        table.add(Continuation{&a, 1, [](Sender) { throw ConversionError("сбой"); }}, &a, nullptr);
        table.add(Continuation{&b, 1, [&](Sender) { ++called; }}, &b, nullptr);
        for (int i = 0; i < 3; ++i)
            table.tick();
        QCOMPARE(shell.errors, QStringList{QStringLiteral("сбой")});
        QCOMPARE(called, 1);
    }

  private:
    PendingTable table;
};

QTEST_GUILESS_MAIN(PendingTest)
#include "test_pending.moc"
