#include "model/switchreset.h"

#include "model/portmodel.h"

void UnlinkAllPorts(MuxSnapshot& snapshot) {
    for (int port = 0; port < kPortCount; ++port)
        PutLink(snapshot, port, 0, NoChannel, CrossPathNone);
}

bool UnlinkChosenSessions(MuxSnapshot& snapshot, const std::array<bool, kSessionCount>& chosen) {
    bool any = false;
    for (int n = 0; n < kSessionCount; ++n) {
        if (!chosen[n])
            continue;
        any = true;
        const auto code = static_cast<uint8_t>(n + kFirstSessionCode);
        for (int port = 0; port < kPortCount; ++port) {
            const int at = SnapshotOffset::Switching + PortEntryOffsetOf(port);
            if (snapshot[at + PortEntryOffset::LinkSession] == code)
                PutLink(snapshot, port, 0, NoChannel, CrossPathNone);
        }
    }
    return any;
}
