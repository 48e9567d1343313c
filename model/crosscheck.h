#pragma once
// Reconciles the switching that A and B report: finds the sessions that join them, blocks what
// cannot be linked, shows the links both halves agree on and repairs the halves that disagree.
#include <QString>

#include "model/portmodel.h"

// Works on SnapshotA and SnapshotB, sets PartnerSessionA and PartnerSessionB, and fills the
// matrices and their counters. `ipA` and `ipB` are the two address texts as typed. Returns 0
// when the analysis ran to its end, 1 when it stopped early (the reason is logged).
int CheckMuxSwitchSettings(PortMatrix& matrix, const QString& ipA, const QString& ipB);
