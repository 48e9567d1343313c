#!/usr/bin/env bash
# Soak of the statistics windows: four windows in automatic mode against four simulated modules
# until REQUESTS statistics requests have been sent (default 3000), a request every INTERVAL_MS
# per window (default 20). Not part of ctest; prints the counts and exits non-zero on a
# time-out, a wrong answer, an unwritten or malformed log, or an error report.
#   scripts/soak.sh [REQUESTS [INTERVAL_MS]]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh app
scripts/configure.sh build
cmake --build build --target soak_stat kestrel-sim -j"$(nproc)" >/dev/null
exec build/tests/soak_stat "${1:-3000}" "${2:-20}"
