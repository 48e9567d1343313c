#include "link/pending.h"

#include "link/connection.h"
#include "link/shell.h"
#include "link/trace.h"

bool PendingTable::add(const Continuation& handler, QObject* window, ConnectionRef connection) {
    for (PendingRequest& slot : slots_) {
        if (slot.taken())
            continue;
        slot.handler = handler;
        slot.window = window;
        slot.connection = std::move(connection);
        slot.countdown = kTimeoutCountdown;
        return true;
    }
    return false;
}

namespace {
void Free(PendingRequest& slot) {
    slot.handler = {};
    slot.window = nullptr;
    slot.connection.reset();
}
}  // namespace

bool PendingTable::remove(QObject* window, int flow) {
    for (PendingRequest& slot : slots_) {
        if (!slot.taken() || slot.window != window || slot.handler.flow != flow)
            continue;
        AbandonExchange(slot.connection);
        Free(slot);
        return true;
    }
    return false;
}

int PendingTable::release(QObject* window) {
    int released = 0;
    for (PendingRequest& slot : slots_) {
        if (slot.taken() && slot.window == window) {
            Free(slot);
            ++released;
        }
    }
    return released;
}

void PendingTable::tick() {
    for (PendingRequest& slot : slots_) {
        if (!slot.handler.handler)
            continue;
        if (!slot.window) {  // its window is gone: nobody is left to tell
            Free(slot);
            continue;
        }
        // A command still connecting is not yet waiting for an answer: its connect has a bound
        // of its own and ends, if it fails, as a failed send.
        if (!RequestSent(slot.connection))
            continue;
        if (slot.countdown != 0) {
            --slot.countdown;
            continue;
        }
        // The answer is given up before the handler hears of it, so that it can never come late.
        AbandonExchange(slot.connection);
        if (slot.connection)
            TraceExchange(*slot.connection, TraceOutcome::TimeOut, nullptr, 0);
        NotifyExchangeEnd(slot.handler, ExchangeEnd::TimedOut);
        const Handler handler = slot.handler.handler;
        RunGuarded([&] { handler(Sender::Timeout); });
    }
}

int PendingTable::count() const {
    int n = 0;
    for (const PendingRequest& slot : slots_)
        n += slot.taken() ? 1 : 0;
    return n;
}

bool PendingTable::has(QObject* window, int flow) const {
    for (const PendingRequest& slot : slots_) {
        if (slot.taken() && slot.window == window && slot.handler.flow == flow)
            return true;
    }
    return false;
}
