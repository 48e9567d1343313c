#pragma once
// The six UDP sessions as the operator edits them: texts exactly as typed or decoded.
#include <QString>
#include <array>
#include <cstdint>

#include "model/configblock.h"

struct SessionSettings {
    uint8_t Enabled = 0;
    QString DestinationIp;
    QString DestinationPort;
    QString LocalPort;
    QString Tos;
};
using SessionTable = std::array<SessionSettings, kSessionCount>;
