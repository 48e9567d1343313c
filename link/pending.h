#pragma once
// Commands that wait for an answer, and their time-outs counted on a timer's ticks.
#include <QObject>
#include <QPointer>
#include <array>

#include "link/exchange.h"

struct PendingRequest {
    Continuation handler;      // entered with Sender::Timeout when no answer comes
    QPointer<QObject> window;  // the waiting window
    ConnectionRef connection;  // the exchange this slot waits for
    int countdown = 0;         // ticks still to wait
    bool taken() const { return handler.handler && window; }
};

// Room for every exchange that can be open at once: four statistics windows with two each,
// the settings window with two, the switching and the current-links window, and spare.
constexpr int kPendingSlotCount = 16;
constexpr int kTimeoutCountdown = 2;
// The main window's timer, whose ticks count the slots down.
constexpr int kTimeoutTickMs = 3000;

// The time-outs of the windows of one program. GUI thread only: windows take and release slots
// as they send and hear back; their owner's timer ticks the table.
class PendingTable {
  public:
    // Takes the first free slot; false (and nothing stored) when the table is full.
    bool add(const Continuation& handler, QObject* window, ConnectionRef connection);
    // Releases the slot of one exchange of a window: the one registered for that handler (flow).
    // Its exchange, if still open, is abandoned. False when the window holds no such slot.
    bool remove(QObject* window, int flow);
    // Releases every slot of a window that is being closed; returns how many. The exchanges run
    // on.
    int release(QObject* window);
    // Whether a window holds a slot for that handler.
    bool has(QObject* window, int flow) const;
    // One tick of the owner's timer: a command that saw kTimeoutCountdown ticks pass since its
    // request left ends as a time-out.
    void tick();
    // Slots currently taken.
    int count() const;
    const PendingRequest& slot(int index) const { return slots_[index]; }

  private:
    std::array<PendingRequest, kPendingSlotCount> slots_{};
};
