#!/usr/bin/env bash
# A real Prometheus against the exporter and simulated modules, all on loopback.
# First without running anything: the example configuration, the alert rules and their tests
# (promtool), the dashboard's JSON. Then the exporter serves over TLS with basic auth (a
# self-signed certificate and a bcrypt hash made here) and Prometheus scrapes it through the
# example's multi-target relabelling, with the example's TLS and auth lines turned on:
# - 50 modules on 127.0.1.1..50 with counters standing: 49 up, the silent one down and its alert
#   pending, a counter equal to what the simulator holds;
# - one module on 127.0.1.51 whose counters wrap every few seconds: Prometheus's rate() of its
#   totals within 2% of the rate the simulator counts at;
# - every query of the dashboard answers with data, and every alert rule evaluates.
# Usage: scripts/prometheus-roundtrip.sh [BUILD_DIR]   (bounded to about 2 minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
declare -A package=([prometheus]=prometheus [promtool]=prometheus [openssl]=openssl [curl]=curl
                    [jq]=jq [perl]=perl)
for tool in "${!package[@]}"; do
    command -v "$tool" >/dev/null ||
        { echo "$tool is missing (Debian package ${package[$tool]}; scripts/deps.sh prometheus)"; exit 1; }
done

failures=0
# check DESCRIPTION COMMAND...: one line per check, whatever its outcome.
check() {
    local what=$1
    shift
    if "$@"; then
        echo "  ok      $what"
    else
        echo "  FAILED  $what"
        failures=$((failures + 1))
    fi
}

# quiet COMMAND...: its output only when it fails, under the check's line.
quiet() {
    local out
    out=$("$@" 2>&1) && return 0
    printf '%s\n' "$out" | tail -n 20 | sed 's/^/          /'
    return 1
}

echo "Files:"
check "promtool check config packaging/prometheus-kestrel.yml" \
    quiet promtool check config packaging/prometheus-kestrel.yml
check "promtool check rules packaging/kestrel-alerts.yml" \
    quiet promtool check rules packaging/kestrel-alerts.yml
check "promtool test rules packaging/kestrel-alerts.test.yml" \
    quiet promtool test rules packaging/kestrel-alerts.test.yml
check "packaging/kestrel-dashboard.json is JSON" quiet jq -e . packaging/kestrel-dashboard.json
if ((failures > 0)); then echo "FAILED"; exit 1; fi

# What the round trip needs of the exporter: without it there is nothing to run.
help=$("$build/kestrel-exporter" --help 2>&1) || { echo "$build/kestrel-exporter does not run"; exit 1; }
if ! grep -q -- '--web.config.file' <<<"$help"; then
    echo "FAILED: $build/kestrel-exporter has no --web.config.file, so it cannot serve TLS with" \
         "basic auth; the round trip needs an exporter that has"
    exit 1
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [[ -n "${KEEP:-}" ]] || rm -rf "$work"
}
trap cleanup EXIT

# The exporter's certificate signs itself and Prometheus trusts it as its own CA. The password is
# new each run; its hash is bcrypt from libcrypt, at the cost sites commonly use, since the
# exporter checks it on every scrape and that price belongs in the round trip.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 -keyout "$work/exporter.key" -out "$work/exporter.crt" \
    >"$work/openssl.log" 2>&1 || { echo "openssl could not make a certificate"; cat "$work/openssl.log"; exit 1; }
password=$(openssl rand -hex 12)
printf '%s' "$password" >"$work/password"
salt=$(openssl rand -base64 16 | tr '+' '.' | cut -c1-22)
hash=$(perl -e 'print crypt($ARGV[0], $ARGV[1])' "$password" "\$2b\$10\$$salt")
if [[ ! $hash =~ ^\$2b\$10\$.{53}$ ]]; then
    echo "libcrypt made no bcrypt hash (got \"$hash\")"; exit 1
fi
cat >"$work/web.yml" <<EOF
tls_server_config:
  cert_file: $work/exporter.crt
  key_file: $work/exporter.key
basic_auth_users:
  prometheus: '$hash'
EOF
echo "TLS and basic auth:"
check "promtool check web-config: the certificate, the key and the bcrypt hash" \
    quiet promtool check web-config "$work/web.yml"

zeros=$(printf '%0896d' 0)
# Local TxPLIS grows 100 and session 1's local PIB(1) 50 a second at rate 1, in one step each
# whole second. At 200 they wrap every 3.3 s and 6.6 s, while even three steps between two
# scrapes (one scrape late at a 1 s interval) stay under the 65536 the exporter can carry.
wrap_rate=200
wrap_txplis=$((100 * wrap_rate)) wrap_pib=$((50 * wrap_rate))
# A port taken by someone else ends a simulator or the exporter at once: then other ports.
for attempt in 1 2 3; do
    base=$((20000 + RANDOM % 20000))  # ports of this run: modules, exporter, Prometheus
    module_port=$base exporter_port=$((base + 1)) prom_port=$((base + 2))
    modules=()
    for i in $(seq 1 50); do modules+=("127.0.1.$i:$module_port"); done
    silent=50
    wrapping=127.0.1.51:$module_port
    # Counters stand still (--rate 0) from a value of our own, so what Prometheus scraped is what
    # the simulator saves: the first module's local TxPLIS, the 16-bit word at byte 448, is 12345.
    printf 'module=1\ncounters=%s3930%s\n' "$zeros" "${zeros:0:36}" >"$work/seed.txt"
    "$build/kestrel-sim" --quiet --rate 0 --state "$work/seed.txt" --save "$work/state.txt" \
        --misbehave "$silent:read-statistics=silent" "${modules[@]}" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    "$build/kestrel-sim" --quiet --rate "$wrap_rate" "$wrapping" >"$work/sim-wrap.log" 2>&1 &
    wrap_pid=$!
    "$build/kestrel-exporter" --quiet --listen "127.0.0.1:$exporter_port" --allow 127.0.1.0/24 \
        --web.config.file "$work/web.yml" >"$work/exporter.log" 2>&1 &
    exporter_pid=$!
    sleep 1
    if kill -0 "$sim_pid" 2>/dev/null && kill -0 "$wrap_pid" 2>/dev/null &&
        kill -0 "$exporter_pid" 2>/dev/null; then
        pids+=("$sim_pid" "$wrap_pid" "$exporter_pid")
        break
    fi
    kill "$sim_pid" "$wrap_pid" "$exporter_pid" 2>/dev/null || true
    wait "$sim_pid" "$wrap_pid" "$exporter_pid" 2>/dev/null || true
    ((attempt < 3)) || { echo "could not start the simulators and the exporter"; tail -n 5 "$work"/*.log; exit 1; }
done
started=$SECONDS

exporter=https://127.0.0.1:$exporter_port
status() {  # the HTTP status of a request to the exporter, 000 when none came
    curl -s -o /dev/null -w '%{http_code}' --max-time 5 --cacert "$work/exporter.crt" "$@" || true
}
for _ in $(seq 1 20); do
    [[ $(status "$exporter/-/healthy") != 000 ]] && break
    sleep 0.25
done
credentials=(-u "prometheus:$password")
check "no credentials: 401" test "$(status "$exporter/metrics")" = 401
check "a wrong password: 401" test "$(status -u prometheus:wrong "$exporter/metrics")" = 401
check "an unknown user: 401" test "$(status -u someone:"$password" "$exporter/metrics")" = 401
check "plain HTTP on the TLS port: no answer" \
    test "$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$exporter_port/metrics" || true)" != 200
for path in / /-/healthy /-/ready /metrics; do
    check "GET $path with the password: 200" test "$(status "${credentials[@]}" "$exporter$path")" = 200
done
own=$(curl -s --max-time 5 --cacert "$work/exporter.crt" "${credentials[@]}" "$exporter/metrics" || true)
for name in 'kestrel_exporter_build_info{version="' process_cpu_seconds_total \
    process_resident_memory_bytes process_open_fds process_max_fds process_start_time_seconds; do
    check "/metrics has $name" grep -qF "$name" <<<"$own"
done

{
    echo "- targets:"
    for m in "${modules[@]}"; do echo "  - '$m'"; done
} >"$work/kestrel-targets.yml"
printf -- "- targets: ['%s']\n" "$wrapping" >"$work/kestrel-wrap-targets.yml"
cp packaging/kestrel-alerts.yml "$work/"
# The example with its TLS and auth lines turned on, its paths here; rules evaluated every 2 s so
# that the silent module's alert is pending within the run.
sed -E -e "s/127.0.0.1:10653/127.0.0.1:$exporter_port/" \
    -e 's/scrape_interval: 15s/scrape_interval: 2s/' \
    -e 's/scrape_timeout: 10s/scrape_timeout: 2s\n  evaluation_interval: 2s/' \
    -e 's/^(    )# (scheme|tls_config|basic_auth):/\1\2:/' \
    -e "s|/etc/prometheus/kestrel-exporter.crt|$work/exporter.crt|" \
    -e "s|/etc/prometheus/kestrel-exporter.password|$work/password|" \
    packaging/prometheus-kestrel.yml >"$work/prometheus.yml"
# The wrapping module: the kestrel job once more, scraped every second under a name of its own.
awk '/^  - job_name: kestrel$/ { job = 1; print; next } job && /^  [^ ]/ { exit } job' \
    "$work/prometheus.yml" |
    sed -e 's/job_name: kestrel$/job_name: kestrel-wrap\n    scrape_interval: 1s\n    scrape_timeout: 1s/' \
        -e 's/kestrel-targets.yml/kestrel-wrap-targets.yml/' >"$work/wrap-job.yml"
cat "$work/wrap-job.yml" >>"$work/prometheus.yml"
echo "Prometheus:"
check "the example's TLS and auth lines, on in both jobs" \
    test "$(grep -cE '^    (scheme: https|tls_config:|basic_auth:)' "$work/prometheus.yml")" = 9
check "promtool check config of the configuration run" \
    quiet promtool check config "$work/prometheus.yml"
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

api() {  # PATH [QUERY]: Prometheus's answer as JSON
    curl -s --max-time 5 "http://127.0.0.1:$prom_port/api/v1/$1" ${2:+--data-urlencode "query=$2"} || true
}
query() {  # the value of the first series the query returns, empty for none
    api query "$1" | jq -r '.data.result[0].value[1] // empty' 2>/dev/null || true
}
series_of() {  # how many series (or one for a scalar) the query returns
    api query "$1" | jq -r 'if .status != "success" then 0
                            elif .data.resultType == "scalar" then 1
                            else .data.result | length end' 2>/dev/null || echo 0
}

# Bounded by a deadline, not by a count, so that slow answers cannot stretch the run.
deadline=$((started + ${WAIT:-40}))
up="" down=""
while ((SECONDS < deadline)); do
    sleep 1
    up=$(query 'count(probe_success{job="kestrel"} == 1)')
    down=$(query "probe_success{job=\"kestrel\",instance=\"127.0.1.$silent:$module_port\"}")
    [[ "$up" == 49 && "$down" == 0 ]] && break
done

# rate() over 60 s, once the series began before the window: rate() stretches the rise between
# the window's first and last samples to the window's edges, and falls short by up to two
# intervals when the series begins inside it. The counters step once a whole second, so what is
# left is under a step in 59 s.
txplis="kestrel_packets_total{job=\"kestrel-wrap\",section=\"local\",counter=\"txplis\"}"
pib="kestrel_session_events_total{job=\"kestrel-wrap\",session=\"1\",section=\"local\",counter=\"pib\",path=\"1\"}"
deadline=$((started + 95))
while ((SECONDS < deadline)); do
    [[ -n $(query "count_over_time(${txplis}[5s] offset 60s)") ]] && break
    sleep 1
done
samples=$(query "count_over_time(${txplis}[60s])")
txplis_rate=$(query "rate(${txplis}[60s])")
pib_rate=$(query "rate(${pib}[60s])")
txplis_total=$(query "$txplis")
within() {  # VALUE EXPECTED PERCENT
    [[ -n $1 ]] && awk -v v="$1" -v e="$2" -v p="$3" 'BEGIN { d = v / e - 1; exit !(d < p / 100 && -d < p / 100) }'
}
exporter_up=$(query 'up{job="kestrel-exporter"}')

echo "Modules (after $((SECONDS - started)) s):"
check "modules up: ${up:-none} of 49 answering" test "$up" = 49
check "the silent module's probe_success: ${down:-none}" test "$down" = 0
check "exporter up over TLS with basic auth: ${exporter_up:-none}" test "$exporter_up" = 1
check "wrapping module: ${samples:-0} scrapes in the last 60 s, the first before them" \
    test "${samples:-0}" -ge 50 -a -n "$(query "count_over_time(${txplis}[5s] offset 60s)")"
check "local TxPLIS total ${txplis_total:-none}: past 65535, so carried over the wrap" \
    awk -v v="${txplis_total:-0}" 'BEGIN { exit !(v > 5 * 65536) }'
check "rate() of local TxPLIS ${txplis_rate:-none}/s, the simulator's $wrap_txplis/s within 2%" \
    within "$txplis_rate" "$wrap_txplis" 2
check "rate() of S1 local PIB(1) ${pib_rate:-none}/s, the simulator's $wrap_pib/s within 2%" \
    within "$pib_rate" "$wrap_pib" 2

# The alert rules as Prometheus evaluates them against the run: each healthy, and the only alert
# the silent module's, still pending (it fires after 5 minutes).
rules=$(api rules)
check "alert rules loaded: $(jq '[.data.groups[].rules[]] | length' <<<"$rules"), all evaluated without error" \
    quiet jq -e '[.data.groups[].rules[]] | length > 0 and all(.health == "ok")' <<<"$rules"
pending=$(query "count(ALERTS{alertname=\"KestrelModuleUnreachable\",alertstate=\"pending\",instance=\"127.0.1.$silent:$module_port\"})")
check "KestrelModuleUnreachable pending for the silent module" test "$pending" = 1
alerts=$(query 'count(ALERTS)')
check "no other alert: ${alerts:-0} in all" test "${alerts:-0}" = 1

# The dashboard's queries with its variables as a site would set them here: each must answer with
# data, so that no panel is empty against a real exporter. A variable left unknown is a failure.
rate_window=30s
substitute() {
    # shellcheck disable=SC2016  # the dashboard's own $names, not the shell's
    sed -e "s/\\\$__rate_interval/$rate_window/g" -e 's/\$exporter_job/kestrel-exporter/g' \
        -e 's/\$job/kestrel/g' -e 's/\$instance/.*/g'
}
mapfile -t exprs < <(jq -r '.. | objects | select(has("expr")) | .expr' packaging/kestrel-dashboard.json)
# The variables' own queries, label_values(SERIES, LABEL), as PromQL: count by (LABEL) (SERIES).
mapfile -t variables < <(jq -r '.templating.list[] | select(.type == "query") | .definition' \
    packaging/kestrel-dashboard.json |
    sed -nE 's/^label_values\((.*), *([a-z_]+)\)$/count by (\2) (\1)/p')
echo "Dashboard (${#exprs[@]} queries, ${#variables[@]} variables; \$__rate_interval as $rate_window):"
check "the dashboard has queries" test "${#exprs[@]}" -gt 0
for expr in "${exprs[@]}" "${variables[@]}"; do
    promql=$(substitute <<<"$expr")
    if [[ $promql == *'$'* ]]; then
        check "a variable this script does not know: $promql" false
        continue
    fi
    n=$(series_of "$promql")
    check "$n series: $promql" test "$n" -gt 0
done

kill -INT "$sim_pid"
wait "$sim_pid" || true
# The first module's counters; TxPLIS of the local totals is the 16-bit word at byte 448.
hex=$(awk -F= '/^module=1$/{m=1} m && /^counters=/{print $2; exit}' "$work/state.txt")
held=$((16#${hex:898:2}${hex:896:2}))
scraped=$(query "kestrel_packets_total{job=\"kestrel\",instance=\"127.0.1.1:$module_port\",section=\"local\",counter=\"txplis\"}")
check "a standing counter: TxPLIS scraped ${scraped:-none}, held by the simulator $held (12345 seeded)" \
    test "$scraped" = "$held" -a "$held" = 12345

echo "$((SECONDS - started)) s from the start of the programs."
if ((failures > 0)); then
    echo "FAILED: $failures checks"
    tail -n 5 "$work/prometheus.log" "$work/sim.log" "$work/sim-wrap.log" "$work/exporter.log"
    exit 1
fi
echo "OK"
