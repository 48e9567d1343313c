// The cross-check of A and B on any pair of snapshots and any two address texts, followed by
// what the switching window does next: the matrices turned back into port entries.
#include <QString>
#include <cstring>

#include "model/crosscheck.h"
#include "model/portmodel.h"
#include "model/switchblock.h"
#include "tests/fuzz/harness.h"

namespace {

QString TakeText(const uint8_t*& data, size_t& size) {
    // A text runs to the next zero byte or to the end.
    const void* end = std::memchr(data, 0, size);
    const size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - data) : size;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    const size_t used = end ? length + 1 : length;
    data += used;
    size -= used;
    return text;
}

void TakeSnapshot(MuxSnapshot& snapshot, const uint8_t*& data, size_t& size) {
    snapshot.fill(0);
    const size_t n = std::min(size, snapshot.size());
    std::memcpy(snapshot.data(), data, n);
    data += n;
    size -= n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzWithoutWindows();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString ipA = TakeText(data, size);
    const QString ipB = TakeText(data, size);
    TakeSnapshot(SnapshotA, data, size);
    TakeSnapshot(SnapshotB, data, size);

    PortBlockCounts counts;
    PortMatrix matrix(counts);
    const int result = CheckMuxSwitchSettings(matrix, ipA, ipB);
    FuzzCheck(result == 0 || result == 1, "the check reports 0 or 1");
    for (Matrix m : {Matrix::Tmo, Matrix::Tf}) {
        for (int r = 1; r <= LinesOf(m); ++r) {
            int links = 0;
            for (int c = 1; c <= LinesOf(m); ++c)
                links += matrix.mark(m, c, r) == CellMark::Link;
            FuzzCheck(links <= 1, "a port of A has at most one link");
        }
        for (int c = 1; c <= LinesOf(m); ++c) {
            int links = 0;
            for (int r = 1; r <= LinesOf(m); ++r)
                links += matrix.mark(m, c, r) == CellMark::Link;
            FuzzCheck(links <= 1, "a port of B has at most one link");
        }
    }
    MuxSnapshot a = SnapshotA;
    MuxSnapshot b = SnapshotB;
    matrix.GridsToSnapshots(a, b, PartnerSessionA, PartnerSessionB);
    SettleAfterInput();
    return 0;
}
