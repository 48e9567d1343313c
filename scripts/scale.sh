#!/usr/bin/env bash
# Scale figures for BENCHMARKS.md (not run by ./test): the simulator serving MODULES modules on
# 127.0.x.y, SILENT of them never answering a statistics read, a real Prometheus probing all of
# them through one kestrel-exporter every 15 s for MINUTES minutes (healthy modules ever reported
# down, healthy probe durations, the exporter's CPU per probe beside a plain exchange of the same
# request measured in the same run, peak memory), then kestrel-cli polling CLI_MODULES of them
# every 3 s for CLI_SECONDS seconds (rows, failures, late modules).
# Usage: scripts/scale.sh [BUILD_DIR]; MODULES=2000 SILENT=100 MINUTES=4 CLI_MODULES=200
# CLI_SECONDS=60.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
modules=${MODULES:-2000} minutes=${MINUTES:-4} silent=${SILENT:-100}
cli_modules=${CLI_MODULES:-200} cli_seconds=${CLI_SECONDS:-60}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

base=$((20000 + RANDOM % 20000))
module_port=$base exporter_port=$((base + 1)) prom_port=$((base + 2))
targets=()
for i in $(seq 0 $((modules - 1))); do targets+=("127.0.$((10 + i / 250)).$((1 + i % 250)):$module_port"); done

# The silent ones spread evenly over the list, so they meet the healthy ones in every round.
rules=()
for i in $(seq 1 "$silent"); do rules+=(--misbehave "$((i * modules / silent)):read-statistics=silent"); done
"$build/kestrel-sim" --quiet "${rules[@]}" "${targets[@]}" >"$work/sim.log" 2>&1 &
pids+=($!)
"$build/kestrel-exporter" --quiet --listen "127.0.0.1:$exporter_port" --allow 127.0.0.0/8 \
    >"$work/exporter.log" 2>&1 &
exporter=$!
pids+=("$exporter")
sleep 2
{
    echo "- targets:"
    for t in "${targets[@]}"; do echo "  - '$t'"; done
} >"$work/kestrel-targets.yml"
cp packaging/kestrel-alerts.yml "$work/"
sed -e "s/127.0.0.1:10653/127.0.0.1:$exporter_port/" packaging/prometheus-kestrel.yml >"$work/prometheus.yml"
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
sleep 20  # the first round of scrapes spreads over the interval
start_ticks=$(ticks "$exporter")
start=$(date +%s)
sleep $((minutes * 60))
end_ticks=$(ticks "$exporter")
elapsed=$(($(date +%s) - start))
query() {
    promtool query instant "http://127.0.0.1:$prom_port" "$1" 2>/dev/null | sed -n 's/.*=> \([0-9.e+-]*\) @.*/\1/p'
}
window="${elapsed}s"
# Healthy: every module that answered at least once in the window; the silent ones never do.
healthy="max_over_time(probe_success{job=\"kestrel\"}[$window]) == 1"
probes=$(query "sum(count_over_time(probe_success{job=\"kestrel\"}[$window]))")
echo "modules: $modules ($silent silent), probed every 15 s for $elapsed s"
echo "probes answered: $(query "sum(sum_over_time(probe_success{job=\"kestrel\"}[$window]))") of $probes scraped"
echo "healthy modules: $(query "count($healthy)"); ever reported down: $(query "count(min_over_time(probe_success{job=\"kestrel\"}[$window]) == 0 and ($healthy))" | grep . || echo 0)"
echo "healthy probe duration p50/p99/max (s): $(query "quantile(0.5, quantile_over_time(0.5, probe_duration_seconds{job=\"kestrel\"}[$window]) and ($healthy))") / $(query "quantile(0.99, quantile_over_time(0.99, probe_duration_seconds{job=\"kestrel\"}[$window]) and ($healthy))") / $(query "max(max_over_time(probe_duration_seconds{job=\"kestrel\"}[$window]) and ($healthy))")"
echo "exporter failures by reason: $(promtool query instant "http://127.0.0.1:$prom_port" 'sum by (reason) (kestrel_exporter_probe_failures_total)' 2>/dev/null | tr '\n' ' ')"
cpu_us=$(awk -v t=$((end_ticks - start_ticks)) -v hz="$hz" -v p="$probes" 'BEGIN{printf "%.0f", t / hz / p * 1e6}')
echo "exporter CPU: $(awk -v t=$((end_ticks - start_ticks)) -v hz="$hz" -v s="$elapsed" 'BEGIN{printf "%.3f", t / hz / s}') cores, $cpu_us us per probe"
echo "exporter peak memory: $(awk '/VmHWM/{print $2, $3}' /proc/$exporter/status)"
echo "exporter probe round trip p50/p99 (s): $(query 'histogram_quantile(0.5, sum by (le) (rate(kestrel_exporter_probe_round_trip_seconds_bucket[2m])))') / $(query 'histogram_quantile(0.99, sum by (le) (rate(kestrel_exporter_probe_round_trip_seconds_bucket[2m])))')"
# The floor beside it: the same statistics read over plain blocking sockets, the asker's CPU,
# back to back and paced as the probes came (15 s over the modules).
if [[ -x "$build/tests/bench_exchange" ]]; then
    pace=$((15000000 / modules))
    floors=$("$build/tests/bench_exchange" --benchmark_filter="PlainSockets/1/(0|$pace)/" 2>/dev/null |
        awk '/_median/{print $4}' | tr '\n' ' ')
    read -r plain paced <<<"$floors"
    echo "plain exchange of the same request, CPU (median of 5): $plain us back to back, $paced us one every $pace us; ratio to the paced one $(awk -v a="$cpu_us" -v b="$paced" 'BEGIN{printf "%.2f", a / b}')"
fi

"$build/kestrel-cli" stats "${targets[@]:0:$cli_modules}" --every 3 --count $((cli_seconds / 3)) \
    --csv "$work/rows.csv" 2>"$work/cli.err" &
cli=$!
cli_start=$(date +%s%N)
wait "$cli" && cli_rc=0 || cli_rc=$?
cli_ms=$((($(date +%s%N) - cli_start) / 1000000))
rows=$(($(wc -l <"$work/rows.csv") - 1))
echo "kestrel-cli: $cli_modules modules every 3 s, $((cli_seconds / 3)) rounds in $cli_ms ms: rows $rows of $((cli_modules * (cli_seconds / 3))), exit $cli_rc, stderr lines $(wc -l <"$work/cli.err")"
