#!/usr/bin/env bash
# Configures and builds the libFuzzer build (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz; builds the targets named as arguments, or every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh app fuzz
scripts/configure.sh build-fuzz
targets=("$@")
((${#targets[@]} > 0)) || targets=(fuzzers)
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
