#!/usr/bin/env bash
# Start-up of the utility to its first painted main window beside a bare Qt window, offscreen:
# median wall time and peak memory over RUNS start-ups of each (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh app
scripts/configure.sh build
cmake --build build -j"$(nproc)" --target startup_probe >/dev/null
build/tests/startup_probe "${1:-20}"
