#pragma once
// Waits on what a test means to outlast rather than on a length of time: the machine that runs
// the suites may be loaded, or slowed by the sanitizers, and a fixed sleep then proves nothing.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "link/exchange.h"
#include "link/pending.h"

// Every exchange has ended and whatever it handed over has reached its window, so an answer
// that has not come by now never will. An exchange that a hand-over starts is waited for too.
// False while one is still open after `timeoutMs` (a silent module's before its time-out).
[[nodiscard]] inline bool SettleExchanges(int timeoutMs = 5000) {
    const QDeadlineTimer deadline(timeoutMs);
    do {
        if (!WaitForReceiveThreads(int(deadline.remainingTime())))
            return false;
        QCoreApplication::sendPostedEvents();  // the hand-overs, posted before each thread ended
    } while (!WaitForReceiveThreads(0));
    return true;
}

// Lets the main window's timer tick until any time-out still counting down would have fired.
[[nodiscard]] inline bool OutlastTimeOuts(QTimer* timer, int timeoutMs = 10000) {
    QSignalSpy ticks(timer, &QTimer::timeout);
    return QTest::qWaitFor([&] { return ticks.count() > kTimeoutCountdown + 1; }, timeoutMs);
}

// For a fault that nothing marks the moment of (a stopped timer that might still fire, a press
// that might still send): lets `ms` pass, or less once `shown` is true. The checks that follow
// tell what went wrong.
template <class Shown>
void AllowFor(int ms, Shown shown) {
    (void)QTest::qWaitFor(shown, ms);
}
