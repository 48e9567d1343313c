#!/usr/bin/env bash
# The exporter's HTTP limits seen from outside: while 1,000 connections sit idle and a client
# streams a 64 MiB header over and over, /metrics is asked 20 times in a row. Prints the slowest answer
# and the exporter's peak memory; fails when an answer takes 100 ms or more, or the peak reaches
# 64 MB. Bash alone (its /dev/tcp), so that it needs nothing beyond the build.
# Usage: scripts/http-limits.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
ulimit -n "$(ulimit -Hn)"  # this shell holds the 1,000 connections
port=$((20000 + RANDOM % 20000))
"$build/kestrel-exporter" --quiet --listen "127.0.0.1:$port" >/dev/null 2>&1 &
exporter=$!
stream=
cleanup() {
    [[ -z $stream ]] || kill "$stream" 2>/dev/null || true
    kill "$exporter" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
sleep 0.5
kill -0 "$exporter" || { echo "the exporter did not start on port $port"; exit 1; }

# One request on a connection of its own, timed by the shell's builtins alone (no process is
# started meanwhile); sets ms to the milliseconds until the whole answer.
metrics_ms() {
    local start=${EPOCHREALTIME/./} reply fd
    exec {fd}<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&"$fd"
    IFS= read -r -d '' reply <&"$fd" || true
    exec {fd}>&-
    ms=$(((${EPOCHREALTIME/./} - start) / 1000))
    [[ $reply == *process_open_fds* ]] || { echo "no /metrics answer" >&2; exit 1; }
}

idle=()
for _ in $(seq 1000); do
    exec {fd}<>"/dev/tcp/127.0.0.1/$port"
    idle+=("$fd")
done
(
    while :; do
        { printf 'GET / HTTP/1.1\r\nX-A: '; head -c 64M /dev/zero | tr '\0' a; } \
            >"/dev/tcp/127.0.0.1/$port" 2>/dev/null || true
    done
) &
stream=$!
sleep 0.5
# Within the idle time-out (5 s), so that all 1,000 are still open while /metrics is asked.
open=$(ls "/proc/$exporter/fd" | wc -l)
worst=0
for _ in $(seq 20); do
    metrics_ms
    ((ms > worst)) && worst=$ms
done
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$exporter/status")
echo "1,000 idle connections and a 64 MiB header stream: /metrics in at most $worst ms," \
    "the exporter's descriptors $open, its peak memory $((peak_kb / 1024)) MB"
((worst < 100 && peak_kb < 64 * 1024)) || { echo "over the bounds (100 ms, 64 MB)"; exit 1; }
