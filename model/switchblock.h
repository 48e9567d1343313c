#pragma once
// Switching data of a module: 20 port entries, port availability, and a read answer's payload.
#include <array>
#include <cstdint>

#include "model/configblock.h"

constexpr int kPortCount = 20;
constexpr int kPortEntrySize = 8;
constexpr int kSwitchingBlockSize = kPortCount * kPortEntrySize;  // 160
constexpr int kPortAvailabilitySize = kPortCount;                 // 20
using SwitchingBlock = std::array<uint8_t, kSwitchingBlockSize>;

namespace PortEntryOffset {
constexpr int LinkSession = 4;
constexpr int RemoteChannel = 5;
constexpr int RemoteCrossPath = 6;
}  // namespace PortEntryOffset

constexpr uint8_t NoChannel = 170;
constexpr uint8_t CrossPathNone = 0;
constexpr uint8_t CrossPathLocal = 4;
constexpr uint8_t CrossPathTransit = 8;
constexpr uint8_t kFirstSessionCode = 2;  // session n travels as n + 1
constexpr uint8_t kLastSessionCode = 7;

constexpr int PortIndex(int group, int channel) {
    return group * 10 + channel;
}

// A read answer's payload: ConfigBlock, SwitchingBlock, PortAvailability.
namespace SnapshotOffset {
constexpr int Config = 0;
constexpr int Switching = kConfigBlockSize;                           // 100
constexpr int Availability = kConfigBlockSize + kSwitchingBlockSize;  // 260
}  // namespace SnapshotOffset
constexpr int kSnapshotSize = SnapshotOffset::Availability + kPortAvailabilitySize;  // 280
using MuxSnapshot = std::array<uint8_t, kSnapshotSize>;
static_assert(kSwitchingBlockSize == kSwitchingWritePayloadSize);
static_assert(kSnapshotSize == kSwitchingReadPayloadSize);


// The bytes of a PortEntry that belong to the module: carried through, never interpreted.
namespace PortEntryOffset {
constexpr int CarriedHead = 0;
constexpr int CarriedHeadSize = 4;
constexpr int CarriedTail = 7;
}  // namespace PortEntryOffset

constexpr int PortEntryOffsetOf(int port) {
    return kPortEntrySize * port;
}
