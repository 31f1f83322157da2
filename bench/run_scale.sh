#!/usr/bin/env bash
# The window over many targets: bench_window_run with 1,000 and with 65,536
# targets (127.2.0.0/16), each run in a fresh network namespace of its own with
# its own Xvfb and openbox. Prints bench_window_run's lines prefixed by the
# target count (t1000_echo_cpu_us, t65536_start_ms, ...): the per-echo cost
# should not grow with the list.
#
#   bench/run_scale.sh [path/to/bench_window_run] [echoes, at most 1000; default 900]
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${1:-}" = --inside ]; then
  BIN=$2 TARGETS=$3 ECHOES=$4
  ip link set lo up
  sysctl -q -w net.ipv4.ping_group_range="0 2147483647" >/dev/null 2>&1 || true
  export TARVOK_HOME
  TARVOK_HOME=$(mktemp -d)
  # A display number of its own: Xvfb picks a free one and tells it.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$TARVOK_HOME/display" >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 1 100); do [ -s "$TARVOK_HOME/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n 1 "$TARVOK_HOME/display")"
  for _ in $(seq 1 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.05; done
  openbox >/dev/null 2>&1 &
  WM=$!
  trap 'kill $WM $XVFB 2>/dev/null; wait 2>/dev/null; rm -rf "$TARVOK_HOME"' EXIT
  sleep 0.3
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
  "$BIN" --targets "$TARGETS" --echoes "$ECHOES" 2>/dev/null | sed "s/^/t${TARGETS}_/"
  exit 0
fi
BIN=${1:-}
ECHOES=${2:-900}
if [ -z "$BIN" ]; then
  for candidate in "$HERE"/../build*/bench/bench_window_run; do
    if [ -x "$candidate" ]; then BIN=$candidate; break; fi
  done
fi
[ -n "$BIN" ] && [ -x "$BIN" ] || { echo "run_scale: bench_window_run not found; pass its path" >&2; exit 2; }
BIN=$(readlink -f "$BIN")
UNSHARE=(unshare -n)
[ "$(id -u)" -eq 0 ] || UNSHARE=(unshare -r -n)
for targets in 1000 65536; do
  "${UNSHARE[@]}" "$0" --inside "$BIN" "$targets" "$ECHOES"
done
