#pragma once
// The module's 100-byte network configuration as it travels on the wire.
#include <array>
#include <cstdint>

#include "link/protocol.h"

constexpr int kConfigBlockSize = kConfigPayloadSize;
using ConfigBlock = std::array<uint8_t, kConfigBlockSize>;

namespace ConfigOffset {
constexpr int ConfigMarker = 0;  // 0x7F 0x7F in every write
constexpr int LocalIp = 2;
constexpr int LocalMac = 6;
constexpr int Subnetwork = 12;
constexpr int Gateway = 16;
constexpr int ControlPort = 20;
constexpr int FirstSession = 22;
constexpr int SessionSize = 12;
constexpr int Spare = 94;
constexpr int OptionFlags = 96;
}  // namespace ConfigOffset

constexpr int kSessionCount = 6;
constexpr uint8_t kConfigMarkerByte = 0x7F;

// Offsets inside one SessionRecord.
namespace SessionOffset {
constexpr int LocalPort = 0;
constexpr int DestinationPort = 2;
constexpr int Enable = 4;
constexpr int DestinationIp = 5;
constexpr int Spare = 9;
constexpr int Tos = 10;
}  // namespace SessionOffset

constexpr int SessionRecordOffset(int session) {
    return ConfigOffset::FirstSession + ConfigOffset::SessionSize * session;
}

// The five option bits that are shown; the other 27 bits of OptionFlags are carried.
enum OptionMask : uint32_t {
    PriorityPort1 = 0x1,
    PriorityPort2 = 0x2,
    PriorityPort3 = 0x4,
    LinkPort1Port2 = 0x800,
    FlowControl = 0x40000,
};
