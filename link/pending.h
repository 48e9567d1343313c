#pragma once
// Commands that wait for an answer, and their time-outs counted on the main window's timer.
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
// GUI thread only: windows take and release slots as they send and hear back; the main window's
// timer counts them down.
extern std::array<PendingRequest, kPendingSlotCount> PendingRequests;

// Takes the first free slot; false (and nothing stored) when the table is full.
bool AddPendingRequest(const Continuation& handler, QObject* window, ConnectionRef connection);
// Releases the slot of one exchange of a window: the one registered for that handler (flow).
// Its exchange, if still open, is abandoned. False when the window holds no such slot.
bool RemovePendingRequest(QObject* window, int flow);
// Releases every slot of a window that is being closed; returns how many. The exchanges run on.
int ReleasePendingRequests(QObject* window);
// Whether a window holds a slot for that handler.
bool HasPendingRequest(QObject* window, int flow);
// One tick of the main window's timer.
void TimerTimeout();
// Slots currently taken.
int PendingRequestCount();
