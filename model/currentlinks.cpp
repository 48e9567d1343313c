#include "model/currentlinks.h"

#include "link/codecs.h"

LinkRows CurrentLinkRows(const MuxSnapshot& snapshot) {
    const uint8_t* config = &snapshot[SnapshotOffset::Config];
    const uint8_t* switching = &snapshot[SnapshotOffset::Switching];
    LinkRows rows;
    for (int n = 0; n < kSessionCount; ++n) {
        const uint8_t* record = config + SessionRecordOffset(n);
        LinkRow& row = rows[n];
        if (record[SessionOffset::Enable] == 0) {
            row = {QStringLiteral("DISABLED"), NoSelectMark};
            continue;
        }
        bool linked = false;
        for (int port = 0; port < kPortCount && !linked; ++port) {
            linked = switching[PortEntryOffsetOf(port) + PortEntryOffset::LinkSession] ==
                     n + kFirstSessionCode;
        }
        row = linked ? LinkRow{IpBytesToText(record + SessionOffset::DestinationIp), QString()}
                     : LinkRow{QStringLiteral("NO_LINK"), NoSelectMark};
    }
    return rows;
}

QString ToggledChoice(const QString& cell) {
    if (cell.isEmpty())
        return SelectMark;
    return cell == SelectMark ? QString() : cell;
}
