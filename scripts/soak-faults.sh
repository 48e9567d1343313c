#!/usr/bin/env bash
# Fault soak: every window of the utility at once (four statistics windows in automatic mode,
# settings connect/read/apply, switching read/write/reset of every target, the current-links
# window and the selective reset) against eight simulated modules that answer each request at
# random from SEED, until EXCHANGES requests have reached them (default 20000, seed 1), with
# the main window's time-out timer ticking every TIMER_MS (default 20) and a statistics window
# closed while it works and opened again every CLOSE_EVERY exchanges (default EXCHANGES/200).
# Not part of ctest; prints the counts by window and exits non-zero on an exchange that ended
# in neither its answer nor its time-out, anything left open, memory that went on growing, an
# error report, or a hang.
#   scripts/soak-faults.sh [EXCHANGES [SEED [TIMER_MS [CLOSE_EVERY]]]]
# BUILD_DIR=build-asan runs it from the sanitizer build there (scripts/configure.sh makes it one).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
scripts/deps.sh app
scripts/configure.sh "$build"
cmake --build "$build" --target soak_faults -j"$(nproc)" >/dev/null
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec "$build/tests/soak_faults" "${1:-20000}" "${2:-1}" "${3:-20}" ${4:+"$4"}
