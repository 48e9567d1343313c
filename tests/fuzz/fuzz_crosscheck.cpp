// The cross-check of A and B on any pair of snapshots read from any two modules, followed by
// what the switching window does next: the matrices turned back into port entries.
#include <cstring>

#include "model/crosscheck.h"
#include "model/portmodel.h"
#include "model/switchblock.h"
#include "tests/fuzz/harness.h"

namespace {

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
    // The modules the two reads came from: the first address octets of the input.
    ModuleEndpoint a{}, b{};
    for (ModuleEndpoint* m : {&a, &b}) {
        for (uint8_t& octet : m->ip) {
            if (size > 0) {
                octet = *data++;
                --size;
            }
        }
    }
    PairSnapshots pair;
    TakeSnapshot(pair.SnapshotA, data, size);
    TakeSnapshot(pair.SnapshotB, data, size);

    PortMatrix matrix;
    const int result = CheckMuxSwitchSettings(matrix, pair, a, b);
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
    MuxSnapshot outA = pair.SnapshotA;
    MuxSnapshot outB = pair.SnapshotB;
    matrix.GridsToSnapshots(outA, outB, pair.PartnerSessionA, pair.PartnerSessionB);
    SettleAfterInput();
    return 0;
}
