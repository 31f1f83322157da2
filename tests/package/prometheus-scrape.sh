#!/usr/bin/env bash
# Debian's Prometheus scrapes a Tarvok periodic run in command mode, inside
# the network lab (run through tests/lab/with-lab.sh): an answering and a
# silent host. Prometheus and Tarvok listen on the lab host's loopback only,
# Prometheus keeps its data in a temporary folder.
#
#   prometheus-scrape.sh <tarvok>
#
# Checks: Prometheus has scraped the endpoint at least twice and finds
# tarvok_echoes_total and tarvok_target_up of both hosts with the right
# values; `promtool check metrics` accepts what the endpoint serves.
# Exit status 0 when all holds, 1 otherwise, 77 outside the lab or without
# prometheus, promtool or curl.
set -u

TARVOK=$(readlink -f "$1")
if [ -z "${LAB_REACHABLE:-}" ]; then
  echo "prometheus-scrape: not inside the network lab" >&2
  exit 77
fi
for tool in prometheus promtool curl; do
  if ! command -v "$tool" > /dev/null; then
    echo "prometheus-scrape: $tool is not installed" >&2
    exit 77
  fi
done

WORK=$(mktemp -d /tmp/tarvok-prom.XXXXXX)
TV_PID=""
PROM_PID=""
cleanup() {
  for pid in $TV_PID $PROM_PID; do
    kill -TERM "$pid" 2> /dev/null
  done
  for pid in $TV_PID $PROM_PID; do
    wait "$pid" 2> /dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/checks.sh"

# Free ports on the lab host's loopback (a namespace of its own: nothing
# else listens there).
METRICS_PORT=19464
PROM_PORT=19090

export TARVOK_HOME="$WORK/home"
mkdir -p "$TARVOK_HOME"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_RUNTIME_DIR
cd "$WORK" || exit 1

printf '%s answering\r\n%s silent\r\n' "$LAB_REACHABLE" "$LAB_SILENT" > list.txt
printf 'PingCount=1\r\nPingWait=10\r\nTimeOut=500\r\nParmanent=1\r\nInterval=1\r\n' > 'list.txt.#CONFIG#'

"$TARVOK" -H -C -R -O out.txt --metrics "127.0.0.1:$METRICS_PORT" list.txt > tarvok.out 2> tarvok.err &
TV_PID=$!

cat > prometheus.yml << EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: tarvok
    static_configs:
      - targets: ['127.0.0.1:$METRICS_PORT']
EOF
prometheus --config.file=prometheus.yml --storage.tsdb.path="$WORK/data" \
  --web.listen-address="127.0.0.1:$PROM_PORT" > prometheus.log 2>&1 &
PROM_PID=$!

# query <PromQL>: the value of the query's single result, or nothing.
query() {
  curl -s --max-time 5 "http://127.0.0.1:$PROM_PORT/api/v1/query" --data-urlencode "query=$1" |
    sed -n 's/.*"result":\[{"metric":{[^}]*},"value":\[[^,]*,"\([^"]*\)"\]}\].*/\1/p'
}

# Two scrapes that found the endpoint up, within 60 s.
scrapes=""
for _ in $(seq 120); do
  scrapes=$(query 'sum_over_time(up{job="tarvok"}[5m])')
  if [ -n "$scrapes" ] && [ "${scrapes%%.*}" -ge 2 ] 2> /dev/null; then break; fi
  sleep 0.5
done
check "Prometheus scraped the endpoint at least twice (up summed: ${scrapes:-none})" \
  test "${scrapes%%.*}" -ge 2 2> /dev/null

value_is() { # value_is <PromQL> <expected>
  local got
  got=$(query "$1")
  if [ "$got" = "$2" ]; then return 0; fi
  echo "     $1 = '${got}', expected '$2'"
  return 1
}
R=$LAB_REACHABLE
S=$LAB_SILENT
check "echoes of the answering host counted OK" \
  value_is "tarvok_echoes_total{target=\"$R\",address=\"$R\",result=\"ok\"} > bool 0" 1
check "no NG echo of the answering host" value_is "tarvok_echoes_total{target=\"$R\",result=\"ng\"}" 0
check "echoes of the silent host counted NG" \
  value_is "tarvok_echoes_total{target=\"$S\",address=\"$S\",result=\"ng\"} > bool 0" 1
check "no OK echo of the silent host" value_is "tarvok_echoes_total{target=\"$S\",result=\"ok\"}" 0
check "the answering host is up" value_is "tarvok_target_up{target=\"$R\"}" 1
check "the silent host is down" value_is "tarvok_target_up{target=\"$S\"}" 0
check "a pass is counted" value_is "tarvok_passes_total >= bool 1" 1
check "the build is labelled" value_is "count(tarvok_build_info{version!=\"\"})" 1

# What the endpoint serves passes promtool's checks, and OpenMetrics is
# served when asked for.
curl -s --max-time 5 "http://127.0.0.1:$METRICS_PORT/metrics" > metrics.txt
check "promtool check metrics" sh -c 'promtool check metrics < metrics.txt'
curl -s --max-time 5 -H 'Accept: application/openmetrics-text; version=1.0.0' \
  "http://127.0.0.1:$METRICS_PORT/metrics" > metrics.om
check "OpenMetrics ends with # EOF" test "$(tail -n 1 metrics.om)" = "# EOF"
check "other paths are not found" \
  test "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$METRICS_PORT/")" = 404
check "Tarvok is still running" kill -0 "$TV_PID"

if [ "$failures" -ne 0 ]; then
  echo "--- tarvok.err"; cat tarvok.err
  echo "--- metrics.txt (head)"; head -n 40 metrics.txt
  echo "--- prometheus.log (tail)"; tail -n 20 prometheus.log
  exit 1
fi
exit 0
