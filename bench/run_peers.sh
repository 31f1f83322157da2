#!/usr/bin/env bash
# Tarvok beside the system's peers, in one call, every run in a fresh network
# namespace of its own (only loopback, up):
#
#   one target:  the echo engine (bench_echo_rate, N echoes to 127.0.0.1,
#                1 ms pause) against ping -c N -i 0.001 127.0.0.1
#   a list:      tarvok -H -C -R -O over M single-echo targets 127.1.x.y with
#                PingWait 1 ms against fping -c 1 -i 1 over the same list
#   the window:  tarvok -R -C -O with the window shown under Xvfb (no peer)
#   the machine: bench_timer_wake, N bare 1 ms sleeps on a timerfd: what any
#                program that pauses between echoes pays on this machine
#   silent ones: the list with every tenth target silent (routed into a dummy
#                interface), TimeOut 1000 ms, MaxEchoesInFlight 256, command
#                mode and the shown window, against fping -c 1 -i 1 -t 1000;
#                the floor is the pauses plus one time-out
#
#   bench/run_peers.sh [-b build-dir] [-n echoes] [-m targets] [-r runs] [-W] [-S]
#
# -W leaves the window cases out, -S the silent ones. Prints "name value" lines (medians over the
# runs, default 3) and the ratios; a peer that is not installed is left out
# with a note on standard error. Also prints the machine's core count.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" = --inside ]; then
  # One run of one peer: --inside ping <echoes> | --inside fping <targets>
  ip link set lo up
  sysctl -q -w net.ipv4.ping_group_range="0 2147483647" >/dev/null 2>&1 || true
  TIMEFORMAT='%3R %3U %3S'
  report() { # report <prefix> <times>
    read -r real user sys <<<"$2"
    awk -v p="$1" -v r="$real" -v u="$user" -v s="$sys" \
      'BEGIN { printf "%s_wall_ms %d\n%s_cpu_ms %d\n", p, r * 1000, p, (u + s) * 1000 }'
  }
  case "$2" in
  ping)
    times=$( { time ping -q -n -c "$3" -i 0.001 127.0.0.1 >/dev/null 2>&1; } 2>&1 )
    report ping "$times"
    ;;
  fping)
    list=$(mktemp)
    awk -v n="$3" 'BEGIN { for (i = 0; i < n; i++) printf "127.1.%d.%d\n", int(i / 250), i % 250 + 1 }' > "$list"
    # Without -q fping reports every echo as it ends, as Tarvok logs every
    # echo: the command the comparison names (its lines go to /dev/null).
    times=$( { time fping -c 1 -i 1 -f "$list" >/dev/null 2>&1; } 2>&1 ) || true
    rm -f "$list"
    report fping "$times"
    ;;
  esac
  exit 0
fi

BUILD=""
ECHOES=2000
TARGETS=10000
RUNS=3
WINDOW=1
SILENT=1
while getopts "b:n:m:r:WS" opt; do
  case "$opt" in
  b) BUILD=$OPTARG ;;
  n) ECHOES=$OPTARG ;;
  m) TARGETS=$OPTARG ;;
  r) RUNS=$OPTARG ;;
  W) WINDOW=0 ;;
  S) SILENT=0 ;;
  *) exit 2 ;;
  esac
done
if [ -z "$BUILD" ]; then
  for candidate in "$HERE"/../build*; do
    if [ -x "$candidate/src/app/tarvok" ]; then BUILD=$candidate; break; fi
  done
fi
[ -n "$BUILD" ] && [ -x "$BUILD/src/app/tarvok" ] || { echo "run_peers: no build with tarvok; pass -b" >&2; exit 2; }
UNSHARE=(unshare -n)
[ "$(id -u)" -eq 0 ] || UNSHARE=(unshare -r -n)

RESULTS=$(mktemp)
trap 'rm -f "$RESULTS"' EXIT
for ((run = 1; run <= RUNS; run++)); do
  # The engine alone (bench_echo_rate prints wall_ms and cpu_ms).
  RUN_ECHO_RATE_INSIDE=1 "${UNSHARE[@]}" bash -c 'ip link set lo up; sysctl -q -w net.ipv4.ping_group_range="0 2147483647" >/dev/null 2>&1; exec "$0" --count "$1" --delay 1' \
    "$BUILD/bench/bench_echo_rate" "$ECHOES" | sed -n 's/^\(wall_ms\|cpu_ms\) /engine_\1 /p' >> "$RESULTS"
  "$BUILD/bench/bench_timer_wake" --count "$ECHOES" --delay 1 |
    sed -n 's/^\(wall_ms\|late_mean_us\) /sleep_\1 /p' >> "$RESULTS"
  if command -v ping >/dev/null 2>&1; then
    "${UNSHARE[@]}" "$0" --inside ping "$ECHOES" >> "$RESULTS"
  fi
  if command -v fping >/dev/null 2>&1; then
    "${UNSHARE[@]}" "$0" --inside fping "$TARGETS" >> "$RESULTS"
  fi
done
command -v ping >/dev/null 2>&1 || echo "run_peers: ping is not installed: no comparison for one target" >&2
command -v fping >/dev/null 2>&1 || echo "run_peers: fping is not installed: no comparison for a list" >&2

cases=(command)
[ "$WINDOW" = 1 ] && cases+=(window)
"$HERE/run_program.sh" -t "$BUILD/src/app/tarvok" -n "$TARGETS" -r "$RUNS" "${cases[@]}" 2>/dev/null |
  grep -v '^floor_ms' >> "$RESULTS"
if [ "$SILENT" = 1 ]; then
  silent=(silent-fping silent-command)
  [ "$WINDOW" = 1 ] && silent+=(silent-window)
  "$HERE/run_program.sh" -t "$BUILD/src/app/tarvok" -n "$TARGETS" -r "$RUNS" -f 256 "${silent[@]}" 2>/dev/null |
    grep -v '^floor_ms' >> "$RESULTS"
  echo "silent_floor_ms $(( TARGETS + 1000 ))"
fi

echo "cores $(nproc)"
echo "engine_floor_ms $ECHOES"
echo "list_floor_ms $TARGETS"
sort -k1,1 -k2,2n "$RESULTS" | awk -v echoes="$ECHOES" -v targets="$TARGETS" '
  { v[$1, ++n[$1]] = $2; if (!($1 in seen)) { seen[$1] = 1; order[++k] = $1 } }
  END {
    for (i = 1; i <= k; i++) {
      name = order[i]; c = n[name]
      m[name] = (c % 2) ? v[name, (c + 1) / 2] : (v[name, c / 2] + v[name, c / 2 + 1]) / 2
      print name, m[name]
    }
    if (("engine_wall_ms" in m) && ("ping_wall_ms" in m) && m["ping_wall_ms"] > 0)
      printf "engine_to_ping_wall %.2f\n", m["engine_wall_ms"] / m["ping_wall_ms"]
    if (("engine_cpu_ms" in m) && ("ping_cpu_ms" in m) && m["ping_cpu_ms"] > 0)
      printf "engine_to_ping_cpu %.2f\n", m["engine_cpu_ms"] / m["ping_cpu_ms"]
    if (("command_wall_ms" in m) && ("fping_wall_ms" in m) && m["fping_wall_ms"] > 0)
      printf "command_to_fping_wall %.2f\n", m["command_wall_ms"] / m["fping_wall_ms"]
    if (("command_cpu_ms" in m) && ("fping_cpu_ms" in m) && m["fping_cpu_ms"] > 0)
      printf "command_to_fping_cpu %.2f\n", m["command_cpu_ms"] / m["fping_cpu_ms"]
    silentFloor = targets + 1000
    if ("silent_command_wall_ms" in m)
      printf "silent_command_to_floor_wall %.3f\n", m["silent_command_wall_ms"] / silentFloor
    if (("silent_command_cpu_ms" in m) && ("silent_fping_cpu_ms" in m) && m["silent_fping_cpu_ms"] > 0)
      printf "silent_command_to_fping_cpu %.2f\n", m["silent_command_cpu_ms"] / m["silent_fping_cpu_ms"]
    if ("silent_window_wall_ms" in m) {
      printf "silent_window_to_floor_wall %.3f\n", m["silent_window_wall_ms"] / silentFloor
      printf "silent_window_cpu_to_wall %.3f\n", m["silent_window_cpu_ms"] / m["silent_window_wall_ms"]
    }
    # Against the bare sleeps: 1.00 would be a run that costs nothing but its
    # pauses on this machine.
    if (("sleep_wall_ms" in m) && m["sleep_wall_ms"] > 0) {
      if ("engine_wall_ms" in m)
        printf "engine_to_sleeps_wall %.3f\n", m["engine_wall_ms"] / m["sleep_wall_ms"]
      if ("command_wall_ms" in m)
        printf "command_to_sleeps_wall %.3f\n", m["command_wall_ms"] / (m["sleep_wall_ms"] * targets / echoes)
    }
  }'
