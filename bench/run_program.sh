#!/usr/bin/env bash
# Times the tarvok executable over loopback targets. Every single run of every
# case goes into a fresh network namespace of its own (only loopback, up), so
# no echo can leave the machine; window cases start their own Xvfb and
# openbox inside it.
#
#   bench/run_program.sh [-t tarvok] [-n targets] [-r runs] [-d display] [-f in-flight] [case...]
#
# Cases (default: command window startup):
#   command   tarvok -H -C -R -O out.txt list.txt, N single-echo targets
#             127.1.x.y with PingWait 1 ms, on Qt's offscreen platform
#   window    tarvok -R -C -O out.txt list.txt, the same list, the window
#             shown under Xvfb with a window manager
#   startup   exec to the main window mapped (Xvfb), and a whole one-echo
#             command-mode run
#   silent-command, silent-window
#             as command and window, every tenth target 198.18.x.y routed into
#             a dummy interface (the send succeeds, nothing answers) and
#             TimeOut 1000 ms
#
# -f sets MaxEchoesInFlight in the program's settings file (default: none
# written, the program's default).
#
# Prints "name value" lines, medians over the runs (default 3):
#   floor_ms                  N x PingWait, the pauses alone
#   command_wall_ms / command_cpu_ms (processor time of tarvok, user + system)
#   window_wall_ms / window_cpu_ms / window_xserver_cpu_ms (of Xvfb)
#   startup_window_ms / startup_command_ms
# and checks that every run logged one line per echo.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ "${1:-}" = --inside ]; then
  # One run of one case, inside its namespace: run_case <case> <tarvok> <targets> <display>
  shift
  CASE=$1 TARVOK=$2 TARGETS=$3 DISPLAY_NO=$4 IN_FLIGHT=${5:-}
  ip link set lo up
  sysctl -q -w net.ipv4.ping_group_range="0 2147483647" >/dev/null 2>&1 || true
  WORK=$(mktemp -d /tmp/tarvok-bench.XXXXXX)
  XPIDS=()
  cleanup() {
    for p in "${XPIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
  }
  trap cleanup EXIT
  cd "$WORK"
  export TARVOK_HOME="$WORK/home"
  mkdir -p "$TARVOK_HOME"
  if [ -n "$IN_FLIGHT" ]; then
    printf '[Tarvok]\r\nMaxEchoesInFlight=%d\r\n' "$IN_FLIGHT" > "$TARVOK_HOME/$(basename "$TARVOK").ini"
  fi
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM

  # list.txt with its parameter file: one echo per target, 1 ms pause.
  make_list() {
    awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) printf "127.1.%d.%d\r\n", int(i / 250), i % 250 + 1 }' > list.txt
    printf 'PingCount=1\r\nPingWait=1\r\nTimeOut=1000\r\nSorted=0\r\n' > list.txt.#CONFIG#
  }
  # The same with every tenth target silent: 198.18.x.y goes into a dummy
  # interface, which takes the echo and answers nothing. Where the kernel has
  # no dummy interfaces, into a veth pair instead, to a fixed neighbour whose
  # end forwards nothing and owns no such address: the send succeeds and
  # nothing answers either.
  make_silent_list() {
    if ip link add tvkdummy type dummy 2>/dev/null; then
      ip link set tvkdummy up
      ip route add 198.18.0.0/15 dev tvkdummy
    else
      ip link add tvksink type veth peer name tvkdrop
      ip link set tvksink up
      ip link set tvkdrop up
      ip addr add 10.255.255.1/30 dev tvksink
      ip neigh replace 10.255.255.2 lladdr "$(ip -o link show tvkdrop | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')" dev tvksink nud permanent
      sysctl -q -w net.ipv4.ip_forward=0 >/dev/null 2>&1 || true
      ip route add 198.18.0.0/15 via 10.255.255.2 dev tvksink
    fi
    awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++)
      if (i % 10 == 9) printf "198.18.%d.%d\r\n", int(i / 250), i % 250 + 1
      else printf "127.1.%d.%d\r\n", int(i / 250), i % 250 + 1 }' > list.txt
    printf 'PingCount=1\r\nPingWait=1\r\nTimeOut=1000\r\nSorted=0\r\n' > list.txt.#CONFIG#
  }
  now_ms() { local t=$EPOCHREALTIME; echo $(( ${t/./} / 1000 )); }
  # Processor time of a finished child run under `time`: "wall user sys" in s.
  TIMEFORMAT='%3R %3U %3S'
  report_run() { # report_run <prefix> <times> <echoes>
    read -r real user sys <<<"$2"
    awk -v p="$1" -v r="$real" -v u="$user" -v s="$sys" \
      'BEGIN { printf "%s_wall_ms %d\n%s_cpu_ms %d\n", p, r * 1000, p, (u + s) * 1000 }'
    local lines=0
    [ -f out.txt ] && lines=$(( $(tr -cd '\n' < out.txt | wc -c) - 1 ))
    if [ "$lines" -ne "$3" ]; then echo "run_program: $1 logged $lines of $3 echoes" >&2; exit 1; fi
  }
  start_x() {
    # A display number of its own: Xvfb picks a free one and tells it.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
    XPIDS+=($!)
    XVFB_PID=$!
    for _ in $(seq 1 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n 1 "$WORK/display")"
    for _ in $(seq 1 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.05; done
    openbox >/dev/null 2>&1 &
    XPIDS+=($!)
    for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done
  }
  xserver_cpu_ms() { awk '{ print ($14 + $15) * 1000 / '"$(getconf CLK_TCK)"' }' "/proc/$XVFB_PID/stat"; }

  case "$CASE" in
  command)
    make_list "$TARGETS"
    unset DISPLAY
    times=$( { time "$TARVOK" -H -C -R -O out.txt list.txt >/dev/null 2>&1; } 2>&1 )
    report_run command "$times" "$TARGETS"
    ;;
  silent-command)
    make_silent_list "$TARGETS"
    unset DISPLAY
    times=$( { time "$TARVOK" -H -C -R -O out.txt list.txt >/dev/null 2>&1; } 2>&1 )
    report_run silent_command "$times" "$TARGETS"
    ;;
  silent-window)
    make_silent_list "$TARGETS"
    start_x
    times=$( { time "$TARVOK" -R -C -O out.txt list.txt >/dev/null 2>&1; } 2>&1 )
    report_run silent_window "$times" "$TARGETS"
    ;;
  silent-fping)
    make_silent_list "$TARGETS"
    tr -d '\r' < list.txt > plain.txt
    if command -v fping >/dev/null 2>&1; then
      # Every echo reported, as Tarvok logs every echo (see run_peers.sh).
      times=$( { time fping -c 1 -i 1 -t 1000 -f plain.txt >/dev/null 2>&1; } 2>&1 ) || true
      read -r real user sys <<<"$times"
      awk -v r="$real" -v u="$user" -v s="$sys" \
        'BEGIN { printf "silent_fping_wall_ms %d\nsilent_fping_cpu_ms %d\n", r * 1000, (u + s) * 1000 }'
    fi
    ;;
  window)
    make_list "$TARGETS"
    start_x
    x0=$(xserver_cpu_ms)
    times=$( { time "$TARVOK" -R -C -O out.txt list.txt >/dev/null 2>&1; } 2>&1 )
    x1=$(xserver_cpu_ms)
    report_run window "$times" "$TARGETS"
    echo "window_xserver_cpu_ms $(( ${x1%.*} - ${x0%.*} ))"
    ;;
  startup)
    make_list 1
    start_x
    # The window manager lists a client as soon as it manages (maps) it.
    # The spy ends at once when the window manager has not set the list yet.
    for _ in $(seq 1 100); do xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -q 'WINDOW' && break; sleep 0.05; done
    : > clients.txt
    xprop -root -spy _NET_CLIENT_LIST > clients.txt 2>/dev/null &
    XPIDS+=($!)
    sleep 0.2
    before=$(wc -l < clients.txt)
    # Target text without a run: the window stays until it is closed.
    printf '127.0.0.1\r\n' > one.txt
    t0=$(now_ms)
    "$TARVOK" one.txt >/dev/null 2>&1 &
    APP=$!
    XPIDS+=($APP)
    mapped=""
    for _ in $(seq 1 20000); do
      if [ "$(wc -l < clients.txt)" -gt "$before" ] && grep -q '0x' <(tail -n 1 clients.txt); then mapped=$(now_ms); break; fi
      sleep 0.001
    done
    kill "$APP" 2>/dev/null || true
    wait "$APP" 2>/dev/null || true
    [ -n "$mapped" ] || { echo "run_program: the window never appeared" >&2; exit 1; }
    echo "startup_window_ms $(( mapped - t0 ))"
    unset DISPLAY
    rm -f out.txt
    t0=$(now_ms)
    "$TARVOK" -H -C -R -O out.txt list.txt >/dev/null 2>&1
    echo "startup_command_ms $(( $(now_ms) - t0 ))"
    ;;
  *)
    echo "run_program: unknown case $CASE" >&2
    exit 2
    ;;
  esac
  exit 0
fi

TARVOK=""
TARGETS=10000
RUNS=3
DISPLAY_NO=$(( 100 + $$ % 400 ))
IN_FLIGHT=""
while getopts "t:n:r:d:f:" opt; do
  case "$opt" in
  t) TARVOK=$OPTARG ;;
  n) TARGETS=$OPTARG ;;
  r) RUNS=$OPTARG ;;
  d) DISPLAY_NO=$OPTARG ;;
  f) IN_FLIGHT=$OPTARG ;;
  *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
CASES=("$@")
[ ${#CASES[@]} -gt 0 ] || CASES=(command window startup)
if [ -z "$TARVOK" ]; then
  for candidate in "$HERE"/../build*/src/app/tarvok; do
    if [ -x "$candidate" ]; then TARVOK=$candidate; break; fi
  done
fi
[ -n "$TARVOK" ] && [ -x "$TARVOK" ] || { echo "run_program: tarvok not found; pass -t" >&2; exit 2; }
TARVOK=$(readlink -f "$TARVOK")
UNSHARE=(unshare -n)
[ "$(id -u)" -eq 0 ] || UNSHARE=(unshare -r -n)

RESULTS=$(mktemp)
trap 'rm -f "$RESULTS"' EXIT
for case_ in "${CASES[@]}"; do
  for ((run = 1; run <= RUNS; run++)); do
    "${UNSHARE[@]}" "$0" --inside "$case_" "$TARVOK" "$TARGETS" "$DISPLAY_NO" "$IN_FLIGHT" | tee -a "$RESULTS" | sed "s/^/# $case_ run $run: /" >&2
  done
done
echo "floor_ms $TARGETS"
# Medians per name.
sort -k1,1 -k2,2n "$RESULTS" | awk '
  { v[$1, ++n[$1]] = $2; if (!($1 in seen)) { seen[$1] = 1; order[++k] = $1 } }
  END { for (i = 1; i <= k; i++) { name = order[i]; c = n[name]; m = (c % 2) ? v[name, (c + 1) / 2] : (v[name, c / 2] + v[name, c / 2 + 1]) / 2; print name, m } }'
