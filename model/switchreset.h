#pragma once
// What a reset of the switching writes: entries unlinked, all of them or those of chosen
// sessions. Bytes 0 to 3 and 7 of every entry stay as the module sent them.
#include <array>

#include "model/configblock.h"
#include "model/switchblock.h"

void UnlinkAllPorts(MuxSnapshot& snapshot);

// Session 1 first: every entry carried over a chosen session is unlinked. False when no session
// was chosen (then nothing changes).
bool UnlinkChosenSessions(MuxSnapshot& snapshot, const std::array<bool, kSessionCount>& chosen);
