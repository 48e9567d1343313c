#pragma once
// Reconciles the switching that A and B report: finds the sessions that join them, blocks what
// cannot be linked, shows the links both halves agree on and repairs the halves that disagree.
#include <QString>

#include "model/portmodel.h"

#include "link/codecs.h"

// The two modules' read answers as the analysis leaves them (repaired), and the sessions it
// found between them.
struct PairSnapshots {
    MuxSnapshot SnapshotA{};
    MuxSnapshot SnapshotB{};
    uint8_t PartnerSessionA = 0;
    uint8_t PartnerSessionB = 0;
};

// Works on the two snapshots, sets the partner sessions, and fills the matrices and their
// counters. `a` and `b` are the modules the two snapshots were read from: a session leads to the
// other side when its destination is that module's address. Returns 0 when the analysis ran to
// its end, 1 when it stopped early (the reason is logged).
int CheckMuxSwitchSettings(PortMatrix& matrix, PairSnapshots& pair, const ModuleEndpoint& a,
                           const ModuleEndpoint& b);
