#include "model/configblock.h"
#include "model/switchblock.h"

ConfigBlock LastReadConfig{};
ConfigBlock OutgoingConfig{};

MuxSnapshot SnapshotA{};
MuxSnapshot SnapshotB{};
SwitchingBlock OutgoingSwitching{};
int CurrentMux = 0;
uint8_t PartnerSessionA = 0;
uint8_t PartnerSessionB = 0;
