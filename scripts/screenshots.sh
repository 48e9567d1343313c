#!/usr/bin/env bash
# Retakes the README's pictures of every window (docs/screenshots/*.png): the utility talks to
# a simulated pair A and B on loopback, each window after a real exchange, under a virtual X
# server (xvfb-run) so that no display is needed; without xvfb-run, on the offscreen platform.
#   scripts/screenshots.sh [OUTPUT_DIR]      default docs/screenshots
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
scripts/deps.sh app xvfb
scripts/configure.sh build
cmake --build build --target screenshots -j"$(nproc)" >/dev/null
if command -v xvfb-run >/dev/null; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/screenshots "$out"
else
    QT_QPA_PLATFORM=offscreen build/tests/screenshots "$out"
fi
