#pragma once
// Switching data of a module: 20 port entries, port availability and the snapshots of A and B.
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

// Program-wide, GUI thread only. Who writes and who reads:
// - SnapshotA, SnapshotB: written by ParseAnswer (a switching answer, into the asking window's
//   target) and emptied or restored by the switching pair's flow; read by the flow's cross-check
//   and by the current-links window's table. The flow keeps its own copies of every whole read;
//   the writes are built from those, never from these.
// - OutgoingSwitching: written by the switching pair's flow just before a write or reset; read
//   by BuildRequest.
// - CurrentMux: written by the switching pair's flow; read by ParseAnswer (where the switching
//   window's answer goes) and the switching window (which address list the read used).
// - PartnerSessionA, PartnerSessionB: written by the cross-check (and zeroed by the flow); read
//   by the port matrix when it turns links into port entries.
extern MuxSnapshot SnapshotA;
extern MuxSnapshot SnapshotB;
extern SwitchingBlock OutgoingSwitching;
// 0 = multiplexer A, 1 = B, 2 = B alone (reset of B).
extern int CurrentMux;
extern uint8_t PartnerSessionA;
extern uint8_t PartnerSessionB;

// The bytes of a PortEntry that belong to the module: carried through, never interpreted.
namespace PortEntryOffset {
constexpr int CarriedHead = 0;
constexpr int CarriedHeadSize = 4;
constexpr int CarriedTail = 7;
}  // namespace PortEntryOffset

constexpr int PortEntryOffsetOf(int port) {
    return kPortEntrySize * port;
}
