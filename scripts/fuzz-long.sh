#!/usr/bin/env bash
# Runs every fuzz target (or those named) for RUNS new inputs each (default one million), JOBS
# targets at a time (default: the number of cores). Inputs that crash, hang, leak or break a
# rule are written to build-fuzz/findings/<target>/; each target's log is build-fuzz/fuzz-long/
# <target>.log. Prints one line per target: inputs run, seconds, and what it found.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-1000000}
jobs=${JOBS:-$(nproc)}
scripts/fuzz-build.sh >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
    for f in tests/fuzz/fuzz_*.cpp; do
        t=$(basename "$f" .cpp)
        targets+=("${t#fuzz_}")
    done
fi

run_one() {
    local t=$1 runs=$2
    local work=build-fuzz/fuzz-long/$t findings=build-fuzz/findings/$t/
    mkdir -p "$work" "$findings"
    local start end status=0
    start=$(date +%s)
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
        LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "build-fuzz/tests/fuzz/fuzz_$t" -runs="$runs" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings" "$work" "tests/fuzz/corpus/$t" \
        >"build-fuzz/fuzz-long/$t.log" 2>&1 || status=$?
    end=$(date +%s)
    local done_line
    done_line=$(grep -E '^#[0-9]+.*DONE' "build-fuzz/fuzz-long/$t.log" | tail -1 || true)
    local found
    found=$(find "$findings" -type f | wc -l)
    printf '%-14s exit %d, %s s, %s, findings: %d\n' "$t" "$status" "$((end - start))" \
        "${done_line:-no DONE line}" "$found"
}
export -f run_one
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$runs"
