#!/usr/bin/env bash
# A real Prometheus against the exporter and 50 simulated modules on 127.0.1.1..50, all on
# loopback: checks the example configuration and alert rules with promtool, then scrapes through
# the example's multi-target relabelling and asks Prometheus's HTTP API that all 50 modules are
# up except the one made silent, and that a counter equals what the simulator holds.
# Usage: scripts/prometheus-roundtrip.sh [BUILD_DIR]   (bounded to about a minute)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
for tool in prometheus promtool; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (Debian package prometheus)"; exit 1; }
done
promtool check config packaging/prometheus-kestrel.yml >/dev/null
promtool check rules packaging/kestrel-alerts.yml >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [[ -n "${KEEP:-}" ]] || rm -rf "$work"
}
trap cleanup EXIT

zeros=$(printf '%0896d' 0)
# A port taken by someone else ends the simulator or the exporter at once: then other ports.
for attempt in 1 2 3; do
    base=$((20000 + RANDOM % 20000))  # ports of this run: modules, exporter, Prometheus
    module_port=$base exporter_port=$((base + 1)) prom_port=$((base + 2))
    modules=()
    for i in $(seq 1 50); do modules+=("127.0.1.$i:$module_port"); done
    silent=50
    # Counters stand still (--rate 0) from a value of our own, so what Prometheus scraped is what
    # the simulator saves: the first module's local TxPLIS, the 16-bit word at byte 448, is 12345.
    printf 'module=1\ncounters=%s3930%s\n' "$zeros" "${zeros:0:36}" >"$work/seed.txt"
    "$build/kestrel-sim" --quiet --rate 0 --state "$work/seed.txt" --save "$work/state.txt" \
        --misbehave "$silent:read-statistics=silent" "${modules[@]}" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    "$build/kestrel-exporter" --quiet --listen "127.0.0.1:$exporter_port" --allow 127.0.1.0/24 \
        >"$work/exporter.log" 2>&1 &
    exporter_pid=$!
    sleep 1
    if kill -0 "$sim_pid" 2>/dev/null && kill -0 "$exporter_pid" 2>/dev/null; then
        pids+=("$sim_pid" "$exporter_pid")
        break
    fi
    kill "$sim_pid" "$exporter_pid" 2>/dev/null || true
    wait "$sim_pid" "$exporter_pid" 2>/dev/null || true
    ((attempt < 3)) || { echo "could not start the simulator and the exporter"; cat "$work"/*.log; exit 1; }
done

{
    echo "- targets:"
    for m in "${modules[@]}"; do echo "  - '$m'"; done
} >"$work/kestrel-targets.yml"
cp packaging/kestrel-alerts.yml "$work/"
sed -e "s/127.0.0.1:10653/127.0.0.1:$exporter_port/" \
    -e 's/scrape_interval: 15s/scrape_interval: 2s/' -e 's/scrape_timeout: 10s/scrape_timeout: 2s/' \
    packaging/prometheus-kestrel.yml >"$work/prometheus.yml"
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

query() {
    promtool query instant "http://127.0.0.1:$prom_port" "$1" 2>/dev/null | sed -n 's/.*=> \([0-9.e+-]*\) @.*/\1/p'
}
up=""
down=""
for _ in $(seq 1 ${WAIT:-40}); do
    sleep 1
    up=$(query 'count(probe_success{job="kestrel"} == 1)')
    down=$(query "probe_success{job=\"kestrel\",instance=\"127.0.1.$silent:$module_port\"}")
    [[ "$up" == 49 && "$down" == 0 ]] && break
done
scraped=$(query "kestrel_packets_total{job=\"kestrel\",instance=\"127.0.1.1:$module_port\",section=\"local\",counter=\"txplis\"}")
exporter_up=$(query 'up{job="kestrel-exporter"}')

kill -INT "$sim_pid"
wait "$sim_pid" || true
# The first module's counters; TxPLIS of the local totals is the 16-bit word at byte 448.
hex=$(awk -F= '/^module=1$/{m=1} m && /^counters=/{print $2; exit}' "$work/state.txt")
held=$((16#${hex:898:2}${hex:896:2}))

echo "modules up: ${up:-none} of 49 answering; silent module's probe_success: ${down:-none};" \
     "TxPLIS scraped ${scraped:-none}, held by the simulator $held; exporter up: ${exporter_up:-none}"
if [[ "$up" != 49 || "$down" != 0 || "$scraped" != "$held" || "$held" != 12345 ||
      "$exporter_up" != 1 ]]; then
    echo "FAILED"; tail -5 "$work/prometheus.log" "$work/sim.log" "$work/exporter.log"; exit 1
fi
echo "OK"
