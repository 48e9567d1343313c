#pragma once
// The two port matrices of the switching window without the window: which cell stands for which
// pair of ports, the texts the cells show, the per-cell block counters and the operations that
// change them or turn them into port entries.
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "model/switchblock.h"

// A port is named by its group (0 local, 1 transit) and its channel (0..5 TMO, 6..9 TF).
enum PortGroup : int { GroupLocal = 0, GroupTransit = 1 };
using Channel = int;
constexpr int kChannelCount = 10;
constexpr int kTmoChannels = 6;
constexpr int kTfChannels = kChannelCount - kTmoChannels;

// The two sides of a link.
enum Mux : int { MuxA = 0, MuxB = 1 };

inline const QString LinkMark = QStringLiteral("     V");
inline const QString BlockMark = QStringLiteral("     X");

constexpr bool IsSessionCode(uint8_t code) {
    return code >= kFirstSessionCode && code <= kLastSessionCode;
}
constexpr uint8_t CrossPathOf(int group) {
    return group == GroupTransit ? CrossPathTransit : CrossPathLocal;
}
// The group a cross-path code names, or -1 when the code names none.
constexpr int GroupOfCrossPath(uint8_t code) {
    return code == CrossPathLocal ? GroupLocal : code == CrossPathTransit ? GroupTransit : -1;
}
constexpr bool IsTmoChannel(int channel) {
    return channel < kTmoChannels;
}

enum class Matrix { Tmo, Tf };
// Size with the heading row and column, and the number of data lines.
constexpr int kTmoGridSize = 13;
constexpr int kTfGridSize = 9;
constexpr int LinesOf(Matrix m) {
    return m == Matrix::Tmo ? kTmoGridSize - 1 : kTfGridSize - 1;
}

// Where a port sits in the matrices: its grid and its line (row for A, column for B), 1-based.
struct PortLine {
    Matrix matrix;
    int line;
};
PortLine LineOfPort(int group, Channel channel);
struct PortId {
    int group;
    Channel channel;
};
PortId PortOfLine(Matrix matrix, int line);
// The name a line's port goes by in the matrices' headings: "ТМО3", "Тр.ТФ2".
QString PortName(Matrix matrix, int line);

// One counter per data cell, for the life of the matrices: 255 marks a cell of a port that cannot
// take a link; any other value counts the links whose row or column crosses the cell.
constexpr uint8_t kBlockedForGood = 255;
struct PortBlockCounts {
    std::array<std::array<uint8_t, kTmoGridSize - 1>, kTmoGridSize - 1> tmo{};
    std::array<std::array<uint8_t, kTfGridSize - 1>, kTfGridSize - 1> tf{};
    // Counter of data cell (column, row), both 1-based.
    uint8_t& at(Matrix m, int column, int row) {
        return m == Matrix::Tmo ? tmo[row - 1][column - 1] : tf[row - 1][column - 1];
    }
    uint8_t at(Matrix m, int column, int row) const {
        return m == Matrix::Tmo ? tmo[row - 1][column - 1] : tf[row - 1][column - 1];
    }
    void fill(uint8_t value);
};

enum class CellMark : uint8_t { Free, Link, Block };

// The data cells of both matrices and their counters. Rows stand for the ports of A, columns
// for those of B. A change of a cell is reported to the observer, so a window can redraw it.
class PortMatrix {
  public:
    using Observer = std::function<void(Matrix, int column, int row)>;
    void setObserver(Observer observer) { observer_ = std::move(observer); }

    CellMark mark(Matrix m, int column, int row) const { return cells(m)[row - 1][column - 1]; }
    QString text(Matrix m, int column, int row) const;
    uint8_t count(Matrix m, int column, int row) const { return BlockCounts.at(m, column, row); }
    PortBlockCounts& counts() { return BlockCounts; }
    // Grows with every change of a cell, so that a flow can tell whether the matrices moved.
    uint64_t version() const { return version_; }

    void ClearGrids();
    void MarkPortUnavailable(int mux, int group, Channel channel);
    void ClearPortLine(int mux, int group, Channel channel);
    void ResetBlockCounts();
    // False when nothing was placed: the cell is blocked (logged), or the two ports are not of
    // one kind and so have no cell.
    bool PlaceLink(int groupA, Channel channelA, int groupB, Channel channelB);
    // The operator's double click on a data cell.
    void Toggle(Matrix m, int column, int row);
    // Bytes 4 to 6 of the entries that the matrices decide; everything else stays as read.
    void GridsToSnapshots(MuxSnapshot& a, MuxSnapshot& b, uint8_t partnerA, uint8_t partnerB) const;

  private:
    using TmoCells = std::array<std::array<CellMark, kTmoGridSize - 1>, kTmoGridSize - 1>;
    using TfCells = std::array<std::array<CellMark, kTfGridSize - 1>, kTfGridSize - 1>;
    struct CellsRef {
        CellMark* base;
        int stride;
        CellMark* operator[](int row) const { return base + row * stride; }
    };
    CellsRef cells(Matrix m);
    const CellsRef cells(Matrix m) const { return const_cast<PortMatrix*>(this)->cells(m); }
    void set(Matrix m, int column, int row, CellMark mark);
    // Every data cell of a port's row (A) or column (B).
    template <class F>
    void forLine(int mux, int group, Channel channel, F f);
    // The cells a link at (column, row) crosses, the rest of its row and its column, each with
    // its counter; cells blocked for good are skipped, for no link ever changes them.
    template <class F>
    void forCrossed(Matrix m, int column, int row, F f);
    // Places a link, read or clicked: the cell shows the link, every crossed cell counts it
    // and a crossed cell that is free becomes blocked.
    // The invariant that lets a read and a click share this: from the cross-check's
    // ResetBlockCounts on, a counter holds kBlockedForGood only on a cell that shows BlockMark,
    // and PlaceLink runs only after it; so the skipped cells never leave a free cell beside a
    // read link. Free cells at kBlockedForGood are left only by a cross-check that stopped for
    // want of a partner session: no link is read then, and the operator's links block nothing.
    void placeAt(Matrix m, int column, int row);

    // The cross-check sets every counter before it places a link; a new matrix counts nothing.
    PortBlockCounts BlockCounts{};
    TmoCells tmo_{};
    TfCells tf_{};
    uint64_t version_ = 0;
    Observer observer_;
};

// Writes one entry's link fields.
void PutLink(MuxSnapshot& snapshot, int port, uint8_t session, uint8_t channel, uint8_t crossPath);
