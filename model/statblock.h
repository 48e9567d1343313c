#pragma once
// The module's 468-byte statistics block.
#include <array>
#include <cstdint>

#include "link/protocol.h"

constexpr int kStatisticsBlockSize = kStatisticsPayloadSize;
using StatisticsBlock = std::array<uint8_t, kStatisticsBlockSize>;

namespace StatOffset {
constexpr int LocalSection = 0;
constexpr int TransitSection = 224;
constexpr int RecordSize = 28;
constexpr int RecordsPerSection = 8;
constexpr int TotalsLoc = 448;
constexpr int TotalsTr = 458;
constexpr int TotalsSize = 10;
}  // namespace StatOffset

constexpr int kCountersPerRecord = 14;
constexpr int kTotalsCounters = 5;

// Record of session s (1..6) in a section: record index s + 1.
constexpr int StatRecordOffset(bool transit, int session) {
    return (transit ? StatOffset::TransitSection : StatOffset::LocalSection) +
           StatOffset::RecordSize * (session + 1);
}

// Every counter of the block is an unsigned 16-bit number.
constexpr int kCounterSize = 2;

// Counter k of a CounterRecord sits at byte 2·k of the record.
namespace CounterIndex {
constexpr int SortLostLow1 = 0;
constexpr int SortLostLow2 = 1;
constexpr int Udf1 = 2;
constexpr int Udf2 = 3;
constexpr int Reject1 = 4;
constexpr int Reject2 = 5;
constexpr int SortLostHigh1 = 8;
constexpr int SortLostHigh2 = 9;
constexpr int Pib1 = 10;
constexpr int Pib2 = 11;
}  // namespace CounterIndex

// Counter t of a TotalsGroup sits at byte 2·t of the group.
namespace TotalsIndex {
constexpr int TxPlis = 0;
constexpr int RxPlis = 1;
constexpr int TxToNetwork1 = 2;
constexpr int TxToNetwork2 = 3;
constexpr int TxToPlis = 4;
}  // namespace TotalsIndex

constexpr int StatCounterOffset(bool transit, int session, int counter) {
    return StatRecordOffset(transit, session) + kCounterSize * counter;
}
constexpr int StatTotalOffset(bool transit, int counter) {
    return (transit ? StatOffset::TotalsTr : StatOffset::TotalsLoc) + kCounterSize * counter;
}
