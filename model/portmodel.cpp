#include "model/portmodel.h"

#include "link/shell.h"


void PortBlockCounts::fill(uint8_t value) {
    for (auto& row : tmo)
        row.fill(value);
    for (auto& row : tf)
        row.fill(value);
}

PortLine LineOfPort(int group, Channel channel) {
    if (IsTmoChannel(channel))
        return {Matrix::Tmo, (group == GroupLocal ? 1 : 7) + channel};
    return {Matrix::Tf, (group == GroupLocal ? 1 : 5) + channel - kTmoChannels};
}

PortId PortOfLine(Matrix matrix, int line) {
    if (matrix == Matrix::Tmo) {
        const int group = line / 7;
        return {group, group == GroupLocal ? line - 1 : line - 7};
    }
    const int group = line / 5;
    return {group, group == GroupLocal ? line + 5 : line + 1};
}

void PutLink(MuxSnapshot& snapshot, int port, uint8_t session, uint8_t channel, uint8_t crossPath) {
    uint8_t* entry = snapshot.data() + SnapshotOffset::Switching + PortEntryOffsetOf(port);
    entry[PortEntryOffset::LinkSession] = session;
    entry[PortEntryOffset::RemoteChannel] = channel;
    entry[PortEntryOffset::RemoteCrossPath] = crossPath;
}

PortMatrix::CellsRef PortMatrix::cells(Matrix m) {
    if (m == Matrix::Tmo)
        return {tmo_[0].data(), kTmoGridSize - 1};
    return {tf_[0].data(), kTfGridSize - 1};
}

QString PortMatrix::text(Matrix m, int column, int row) const {
    switch (mark(m, column, row)) {
        case CellMark::Link:
            return LinkMark;
        case CellMark::Block:
            return BlockMark;
        case CellMark::Free:
            break;
    }
    return QString();
}

void PortMatrix::set(Matrix m, int column, int row, CellMark mark) {
    CellMark& cell = cells(m)[row - 1][column - 1];
    if (cell == mark)
        return;
    cell = mark;
    ++version_;
    if (observer_)
        observer_(m, column, row);
}

template <class F>
void PortMatrix::forLine(int mux, int group, Channel channel, F f) {
    const PortLine at = LineOfPort(group, channel);
    for (int a = 1; a <= LinesOf(at.matrix); ++a) {
        if (mux == MuxA)
            f(at.matrix, a, at.line);
        else
            f(at.matrix, at.line, a);
    }
}

template <class F>
void PortMatrix::forCrossed(Matrix m, int column, int row, F f) {
    for (int a = 1; a <= LinesOf(m); ++a) {
        if (a != column && BlockCounts.at(m, a, row) != kBlockedForGood)
            f(BlockCounts.at(m, a, row), a, row);
        if (a != row && BlockCounts.at(m, column, a) != kBlockedForGood)
            f(BlockCounts.at(m, column, a), column, a);
    }
}

void PortMatrix::placeAt(Matrix m, int column, int row) {
    set(m, column, row, CellMark::Link);
    forCrossed(m, column, row, [&](uint8_t& count, int c, int r) {
        ++count;
        if (mark(m, c, r) == CellMark::Free)
            set(m, c, r, CellMark::Block);
    });
}

void PortMatrix::ClearGrids() {
    for (Matrix m : {Matrix::Tmo, Matrix::Tf}) {
        for (int r = 1; r <= LinesOf(m); ++r) {
            for (int c = 1; c <= LinesOf(m); ++c)
                set(m, c, r, CellMark::Free);
        }
    }
}

void PortMatrix::MarkPortUnavailable(int mux, int group, Channel channel) {
    forLine(mux, group, channel, [this](Matrix m, int c, int r) { set(m, c, r, CellMark::Block); });
}

void PortMatrix::ClearPortLine(int mux, int group, Channel channel) {
    forLine(mux, group, channel, [this](Matrix m, int c, int r) {
        if (mark(m, c, r) != CellMark::Block)
            set(m, c, r, CellMark::Free);
    });
}

void PortMatrix::ResetBlockCounts() {
    for (Matrix m : {Matrix::Tmo, Matrix::Tf}) {
        for (int r = 1; r <= LinesOf(m); ++r) {
            for (int c = 1; c <= LinesOf(m); ++c) {
                if (mark(m, c, r) != CellMark::Block)
                    BlockCounts.at(m, c, r) = 0;
            }
        }
    }
}

bool PortMatrix::PlaceLink(int groupA, Channel channelA, int groupB, Channel channelB) {
    // Ports of different kinds have no cell of their own; any cell chosen for them would claim
    // a link between two unrelated ports.
    if (IsTmoChannel(channelA) != IsTmoChannel(channelB))
        return false;
    const PortLine row = LineOfPort(groupA, channelA);
    const PortLine column = LineOfPort(groupB, channelB);
    const Matrix m = row.matrix;
    const int r = row.line;
    const int c = column.line;
    if (mark(m, c, r) == CellMark::Block) {
        LogEvent(QStringLiteral("Попытка доступа к неактивной ячейке!"));
        return false;
    }
    placeAt(m, c, r);
    return true;
}

void PortMatrix::Toggle(Matrix m, int column, int row) {
    const CellMark was = mark(m, column, row);
    if (was == CellMark::Free) {
        placeAt(m, column, row);
    } else if (was == CellMark::Link) {
        set(m, column, row, CellMark::Free);
        forCrossed(m, column, row, [&](uint8_t& count, int c, int r) {
            if (--count == 0)
                set(m, c, r, CellMark::Free);
        });
    }
}

void PortMatrix::GridsToSnapshots(MuxSnapshot& a, MuxSnapshot& b, uint8_t partnerA,
                                  uint8_t partnerB) const {
    for (Matrix m : {Matrix::Tf, Matrix::Tmo}) {
        for (int c = 1; c <= LinesOf(m); ++c) {
            const PortId portB = PortOfLine(m, c);
            for (int r = 1; r <= LinesOf(m); ++r) {
                const PortId portA = PortOfLine(m, r);
                const int entryA = PortIndex(portA.group, portA.channel);
                const int entryB = PortIndex(portB.group, portB.channel);
                switch (mark(m, c, r)) {
                    case CellMark::Link:
                        PutLink(a, entryA, partnerA, static_cast<uint8_t>(portB.channel),
                                CrossPathOf(portB.group));
                        PutLink(b, entryB, partnerB, static_cast<uint8_t>(portA.channel),
                                CrossPathOf(portA.group));
                        break;
                    case CellMark::Free:
                        PutLink(a, entryA, 0, NoChannel, CrossPathNone);
                        PutLink(b, entryB, 0, NoChannel, CrossPathNone);
                        break;
                    case CellMark::Block:
                        break;
                }
            }
        }
    }
}

QString PortName(Matrix matrix, int line) {
    const int ports = matrix == Matrix::Tmo ? kTmoChannels : kTfChannels;
    const QString kind = matrix == Matrix::Tmo ? QStringLiteral("ТМО") : QStringLiteral("ТФ");
    return (line > ports ? QStringLiteral("Тр.") : QString()) + kind +
           QString::number((line - 1) % ports + 1);
}
