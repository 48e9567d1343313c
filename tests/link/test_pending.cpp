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

void ClearTable() {
    for (PendingRequest& slot : PendingRequests)
        slot = PendingRequest{};
}

}  // namespace

class PendingTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { ClearTable(); }

    void timeoutOnTheThirdTick() {
        Calls calls;
        QObject window;
        QVERIFY(AddPendingRequest(calls.handler(&window, 8), &window, nullptr));
        TimerTimeout();
        TimerTimeout();
        QVERIFY(calls.timeouts.empty());
        TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        // The timer does not release the slot: a handler that keeps it is called again.
        TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(2));
        QVERIFY(RemovePendingRequest(&window, 8));
        TimerTimeout();
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
        QVERIFY(AddPendingRequest(calls.handler(&window, 8), &window, nullptr));
        QVERIFY(AddPendingRequest(calls.handler(&window, 16), &window, nullptr));
        QVERIFY(RemovePendingRequest(&window, answered));
        QVERIFY(!HasPendingRequest(&window, answered));
        QVERIFY(HasPendingRequest(&window, stillWaiting));
        for (int i = 0; i < 3; ++i)
            TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].second, stillWaiting);
    }

    void twoWindowsCountDownIndependently() {
        Calls calls;
        QObject first, second;
        AddPendingRequest(calls.handler(&first, 8), &first, nullptr);
        TimerTimeout();
        AddPendingRequest(calls.handler(&second, 8), &second, nullptr);
        TimerTimeout();
        TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].first, &first);
        RemovePendingRequest(&first, 8);
        TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(2));
        QCOMPARE(calls.timeouts[1].first, &second);
    }

    void fullTableRefusesAndStaysUnchanged() {
        Calls calls;
        std::vector<std::unique_ptr<QObject>> windows;
        for (int i = 0; i < kPendingSlotCount; ++i) {
            windows.push_back(std::make_unique<QObject>());
            QVERIFY(AddPendingRequest(calls.handler(windows.back().get(), 8), windows.back().get(),
                                      nullptr));
        }
        QVERIFY(kPendingSlotCount >= 16);  // four statistics windows with two each, and more
        QObject extra;
        QVERIFY(!AddPendingRequest(calls.handler(&extra, 8), &extra, nullptr));
        QCOMPARE(PendingRequestCount(), kPendingSlotCount);
        QVERIFY(!HasPendingRequest(&extra, 8));
        for (int i = 0; i < kPendingSlotCount; ++i)
            QCOMPARE(PendingRequests[i].window.data(), windows[i].get());
    }

    void releasingWhatIsNotThere() {
        Calls calls;
        QObject window, other;
        AddPendingRequest(calls.handler(&window, 8), &window, nullptr);
        QVERIFY(!RemovePendingRequest(&other, 8));
        QVERIFY(!RemovePendingRequest(&window, 16));
        QCOMPARE(ReleasePendingRequests(&other), 0);
        QCOMPARE(PendingRequestCount(), 1);
    }

    void closingAWindowReleasesAllItsSlots() {
        Calls calls;
        QObject window, other;
        AddPendingRequest(calls.handler(&window, 8), &window, nullptr);
        AddPendingRequest(calls.handler(&other, 8), &other, nullptr);
        AddPendingRequest(calls.handler(&window, 16), &window, nullptr);
        QCOMPARE(ReleasePendingRequests(&window), 2);
        for (int i = 0; i < 3; ++i)
            TimerTimeout();
        QCOMPARE(calls.timeouts.size(), size_t(1));
        QCOMPARE(calls.timeouts[0].first, &other);
    }

    void aWindowThatIsGoneIsNeverCalled() {
        Calls calls;
        auto window = std::make_unique<QObject>();
        AddPendingRequest(calls.handler(window.get(), 8), window.get(), nullptr);
        window.reset();
        for (int i = 0; i < 4; ++i)
            TimerTimeout();
        QVERIFY(calls.timeouts.empty());
        QCOMPARE(PendingRequestCount(), 0);
    }

    void handlerErrorIsReportedAndTheTimerGoesOn() {
        RecordingShell shell;
        QObject a, b;
        int called = 0;
        AddPendingRequest(Continuation{&a, 1, [](Sender) { throw ConversionError("сбой"); }}, &a,
                          nullptr);
        AddPendingRequest(Continuation{&b, 1, [&](Sender) { ++called; }}, &b, nullptr);
        for (int i = 0; i < 3; ++i)
            TimerTimeout();
        QCOMPARE(shell.errors, QStringList{QStringLiteral("сбой")});
        QCOMPARE(called, 1);
    }
};

QTEST_GUILESS_MAIN(PendingTest)
#include "test_pending.moc"
