#include "model/crosscheck.h"

#include <cstring>

#include "link/codecs.h"
#include "link/shell.h"

namespace {

struct Entry {
    uint8_t session;
    uint8_t channel;
    uint8_t crossPath;
};

uint8_t* EntryBytes(MuxSnapshot& snapshot, int port) {
    return snapshot.data() + SnapshotOffset::Switching + PortEntryOffsetOf(port);
}

Entry EntryOf(MuxSnapshot& snapshot, int port) {
    const uint8_t* e = EntryBytes(snapshot, port);
    return {e[PortEntryOffset::LinkSession], e[PortEntryOffset::RemoteChannel],
            e[PortEntryOffset::RemoteCrossPath]};
}

// Cuts an entry's far end; its session stays.
void CutFarEnd(MuxSnapshot& snapshot, int port) {
    uint8_t* e = EntryBytes(snapshot, port);
    e[PortEntryOffset::RemoteChannel] = NoChannel;
    e[PortEntryOffset::RemoteCrossPath] = CrossPathNone;
}

bool Available(const MuxSnapshot& snapshot, int port) {
    return snapshot[SnapshotOffset::Availability + port] != 0;
}

// The code of the first enabled session (1..6) whose destination is the module `other`, or 0.
uint8_t PartnerSession(const MuxSnapshot& snapshot, const ModuleEndpoint& other) {
    const uint8_t* wanted = other.ip.data();
    for (int n = 0; n < kSessionCount; ++n) {
        const uint8_t* record = snapshot.data() + SnapshotOffset::Config + SessionRecordOffset(n);
        if (record[SessionOffset::Enable] != 0 &&
            std::memcmp(record + SessionOffset::DestinationIp, wanted, other.ip.size()) == 0) {
            return static_cast<uint8_t>(kFirstSessionCode + n);
        }
    }
    return 0;
}

}  // namespace

int CheckMuxSwitchSettings(PortMatrix& matrix, PairSnapshots& pair, const ModuleEndpoint& a,
                           const ModuleEndpoint& b) {
    MuxSnapshot& SnapshotA = pair.SnapshotA;
    MuxSnapshot& SnapshotB = pair.SnapshotB;
    matrix.counts().fill(kBlockedForGood);
    matrix.ClearGrids();

    const uint8_t partnerA = PartnerSession(SnapshotA, b);
    if (partnerA == 0) {
        LogEvent(
            QStringLiteral("В мультиплексоре А не сконфигурирована связь с мультиплексором В"));
        return 1;
    }
    pair.PartnerSessionA = partnerA;
    const uint8_t partnerB = PartnerSession(SnapshotB, a);
    if (partnerB == 0) {
        LogEvent(
            QStringLiteral("В мультиплексоре B не сконфигурирована связь с мультиплексором А"));
        return 1;
    }
    pair.PartnerSessionB = partnerB;

    MuxSnapshot* const sides[2] = {&SnapshotA, &SnapshotB};
    const uint8_t partners[2] = {partnerA, partnerB};
    for (int mux : {MuxA, MuxB}) {
        for (int port = 0; port < kPortCount; ++port) {
            if (!Available(*sides[mux], port))
                matrix.MarkPortUnavailable(mux, port / kChannelCount, port % kChannelCount);
        }
    }
    for (int mux : {MuxA, MuxB}) {
        for (int port = 0; port < kPortCount; ++port) {
            if (!Available(*sides[mux], port))
                continue;
            const Entry e = EntryOf(*sides[mux], port);
            const uint8_t s = e.session;
            const int group = port / kChannelCount;
            const int channel = port % kChannelCount;
            // A half over the partner session that names no far port is what a cut link leaves:
            // unlinked, like a half over no session, so that it never stops the analysis.
            const bool namesNoPort = s == partners[mux] && e.channel == NoChannel;
            if (IsSessionCode(s) && !namesNoPort) {
                // Switched over a session that does not lead to the other side.
                if (s != partners[mux])
                    matrix.MarkPortUnavailable(mux, group, channel);
            } else {
                matrix.ClearPortLine(mux, group, channel);
                PutLink(*sides[mux], port, 0, NoChannel, CrossPathNone);
            }
        }
    }
    matrix.ResetBlockCounts();

    for (int port = 0; port < kPortCount; ++port) {
        const Entry a = EntryOf(SnapshotA, port);
        if (!Available(SnapshotA, port) || !IsSessionCode(a.session) || a.session != partnerA)
            continue;
        const int k = port / kChannelCount;
        const int l = port % kChannelCount;
        const int farChannel = a.channel;
        if (farChannel >= kChannelCount) {
            LogEvent(QStringLiteral("CheckMuxSwitchSettings: Неправильный номер канала"));
            return 1;
        }
        const int farGroup = GroupOfCrossPath(a.crossPath);
        if (farGroup < 0) {
            LogEvent(QStringLiteral("CheckMuxSwitchSettings: Неправильный кросс-путь"));
            return 1;
        }
        if (IsTmoChannel(l) != IsTmoChannel(farChannel)) {
            LogEvent(QStringLiteral("Несовместимые типы портов в настройках коммутации"));
            continue;
        }
        const int farPort = PortIndex(farGroup, farChannel);
        const Entry e = EntryOf(SnapshotB, farPort);
        if (e.session != partnerB)
            continue;  // B's port is not linked to A: nothing to show, nothing to repair
        if (e.channel == l && e.crossPath == CrossPathOf(k)) {
            matrix.PlaceLink(k, l, farGroup, farChannel);
            continue;
        }
        // B's port names another port of A. When that port names it back, the pair holds and
        // this entry is the stale one; otherwise neither half is trusted.
        const int heldGroup = GroupOfCrossPath(e.crossPath);
        bool heldByOther = false;
        if (heldGroup >= 0 && e.channel < kChannelCount) {
            const Entry f = EntryOf(SnapshotA, PortIndex(heldGroup, e.channel));
            heldByOther = f.session == partnerA && f.channel == farChannel &&
                          f.crossPath == CrossPathOf(farGroup);
        }
        if (heldByOther) {
            // Cut whole: an entry that keeps its session without a far end would be written back
            // and stop every later analysis of the pair.
            PutLink(SnapshotA, port, 0, NoChannel, CrossPathNone);
            matrix.MarkPortUnavailable(MuxA, k, l);
        } else {
            CutFarEnd(SnapshotA, port);
            CutFarEnd(SnapshotB, farPort);
        }
    }
    return 0;
}
