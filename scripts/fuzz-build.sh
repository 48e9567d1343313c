#!/usr/bin/env bash
# Configures and builds the libFuzzer build (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz; builds the targets named as arguments, or every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKESTREL_FUZZ=ON -DKESTREL_BENCHMARKS=OFF >/dev/null
fi
targets=("$@")
((${#targets[@]} > 0)) || targets=(fuzzers)
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
