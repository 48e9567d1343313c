// The cross-check of a full pair: every kind of link, missing ports, a port of another session,
// a crossing pair and halves that do not meet.
#include <benchmark/benchmark.h>

#include "link/codecs.h"
#include "model/crosscheck.h"

namespace {

const QString kIpA = QStringLiteral("10.0.0.1");
const QString kIpB = QStringLiteral("10.0.0.2");

void Link(MuxSnapshot& s, int group, int channel, int session, int farGroup, int farChannel) {
    PutLink(s, PortIndex(group, channel), static_cast<uint8_t>(session),
            static_cast<uint8_t>(farChannel), CrossPathOf(farGroup));
}

void Agreed(MuxSnapshot& a, MuxSnapshot& b, int gA, int cA, int gB, int cB) {
    Link(a, gA, cA, 3, gB, cB);
    Link(b, gB, cB, 2, gA, cA);
}

void Seed(MuxSnapshot& a, MuxSnapshot& b) {
    for (MuxSnapshot* s : {&a, &b}) {
        s->fill(0);
        for (int port = 0; port < kPortCount; ++port) {
            PutLink(*s, port, 0, NoChannel, CrossPathNone);
            (*s)[SnapshotOffset::Availability + port] = 1;
        }
    }
    // A reaches B over its session 2 (session 1 points elsewhere); B reaches A over session 1.
    uint8_t* sessionA1 = a.data() + SessionRecordOffset(0);
    sessionA1[SessionOffset::Enable] = 1;
    IpTextToBytes(QStringLiteral("10.0.0.9"), sessionA1 + SessionOffset::DestinationIp);
    uint8_t* sessionA2 = a.data() + SessionRecordOffset(1);
    sessionA2[SessionOffset::Enable] = 1;
    IpTextToBytes(kIpB, sessionA2 + SessionOffset::DestinationIp);
    uint8_t* sessionB1 = b.data() + SessionRecordOffset(0);
    sessionB1[SessionOffset::Enable] = 1;
    IpTextToBytes(kIpA, sessionB1 + SessionOffset::DestinationIp);

    Agreed(a, b, 0, 0, 0, 1);  // TMO local with local
    Agreed(a, b, 0, 1, 1, 2);  // TMO local with transit
    Agreed(a, b, 1, 3, 0, 4);  // TMO transit with local
    Agreed(a, b, 1, 4, 1, 5);  // TMO transit with transit
    Agreed(a, b, 0, 6, 0, 7);  // TF local with local
    Agreed(a, b, 0, 7, 1, 6);  // TF local with transit
    Agreed(a, b, 1, 8, 1, 9);  // TF transit with transit
    Link(a, 0, 2, 3, 0, 1);    // crosses TMO1 of A onto B's TMO2
    Link(a, 0, 3, 2, 0, 0);    // over the session that leads elsewhere
    Link(a, 0, 4, 3, 1, 8);    // a TMO port naming a TF channel
    Link(b, 0, 8, 2, 0, 9);    // B alone points at A's TF4
    a[SnapshotOffset::Availability + PortIndex(1, 0)] = 0;
    b[SnapshotOffset::Availability + PortIndex(0, 5)] = 0;
}

void CheckFullPair(benchmark::State& state) {
    MuxSnapshot a{};
    MuxSnapshot b{};
    Seed(a, b);
    PortMatrix matrix;
    PairSnapshots pair{a, b};
    const ModuleEndpoint moduleA = *ParseModuleEndpoint(kIpA, QStringLiteral("65530"));
    const ModuleEndpoint moduleB = *ParseModuleEndpoint(kIpB, QStringLiteral("65530"));
    if (CheckMuxSwitchSettings(matrix, pair, moduleA, moduleB) != 0) {
        state.SkipWithError("the pair does not run to the end of the analysis");
        return;
    }
    for (auto _ : state) {
        pair = {a, b};  // the check repairs entries, so every round starts from the read
        benchmark::DoNotOptimize(CheckMuxSwitchSettings(matrix, pair, moduleA, moduleB));
        benchmark::ClobberMemory();
    }
}

// The floor: the same two snapshots restored, and A's entries walked to B's with the same
// byte comparisons, without partner sessions, blocking or marks.
void FloorCopyAndWalk(benchmark::State& state) {
    MuxSnapshot a{};
    MuxSnapshot b{};
    Seed(a, b);
    PairSnapshots pair;
    MuxSnapshot& SnapshotA = pair.SnapshotA;
    MuxSnapshot& SnapshotB = pair.SnapshotB;
    for (auto _ : state) {
        SnapshotA = a;
        SnapshotB = b;
        int agreed = 0;
        for (int port = 0; port < kPortCount; ++port) {
            const uint8_t* e = &SnapshotA[SnapshotOffset::Switching + PortEntryOffsetOf(port)];
            const int group = GroupOfCrossPath(e[PortEntryOffset::RemoteCrossPath]);
            const int channel = e[PortEntryOffset::RemoteChannel];
            if (group < 0 || channel >= kChannelCount)
                continue;
            const uint8_t* f = &SnapshotB[SnapshotOffset::Switching +
                                          PortEntryOffsetOf(PortIndex(group, channel))];
            agreed += f[PortEntryOffset::RemoteChannel] == port % kChannelCount &&
                      f[PortEntryOffset::RemoteCrossPath] == CrossPathOf(port / kChannelCount);
        }
        benchmark::DoNotOptimize(agreed);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(CheckFullPair)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FloorCopyAndWalk)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
