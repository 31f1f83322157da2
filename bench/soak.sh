#!/usr/bin/env bash
# Soak run: the tarvok executable in command mode pings loopback addresses
# with periodic execution on (passes back to back) and AutoDelete on, until a
# given number of echoes has been logged. Every few seconds it samples the
# process's resident memory, open descriptors and threads.
#
#   bench/soak.sh [path/to/tarvok] [echoes, default 100000] [sample seconds, default 5]
#
# Runs in a network namespace of its own with nothing but loopback. Prints
# one line per sample, then "name value" lines: the first and last values,
# the values after the first pass and the growth since then. Goal: RSS grows
# less than 5 % after the first pass; descriptors and threads stay constant.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=${1:-}
if [ -z "$BIN" ]; then
  for candidate in "$HERE"/../build/src/app/tarvok "$HERE"/../build*/src/app/tarvok; do
    if [ -x "$candidate" ]; then BIN=$candidate; break; fi
  done
fi
[ -n "$BIN" ] && [ -x "$BIN" ] || { echo "soak: tarvok not found; pass its path" >&2; exit 2; }
BIN=$(readlink -f "$BIN")
ECHOES=${2:-100000}
EVERY=${3:-5}

if [ "${SOAK_INSIDE:-}" != 1 ]; then
  UNSHARE=(unshare -n)
  [ "$(id -u)" -eq 0 ] || UNSHARE=(unshare -r -n)
  SOAK_INSIDE=1 exec "${UNSHARE[@]}" "$0" "$BIN" "$ECHOES" "$EVERY"
fi
ip link set lo up
sysctl -q -w net.ipv4.ping_group_range="0 2147483647" || true

WORK=$(mktemp -d /tmp/tarvok-soak.XXXXXX)
cleanup() { [ -n "${PID:-}" ] && kill "$PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
cd "$WORK"
# Ten loopback targets, 100 echoes each: 1000 echoes a pass.
TARGETS=10
PER_PASS=$((TARGETS * 100))
for i in $(seq 1 $TARGETS); do printf '127.0.0.%d loopback %d\r\n' "$i" "$i"; done > list.txt
printf 'PingCount=100\r\nPingWait=1\r\nTimeOut=1000\r\nParmanent=1\r\nInterval=0\r\nSorted=0\r\n' > 'list.txt.#CONFIG#'
printf '[Tarvok]\r\nAutoDelete=1\r\nAutoDeleteCount=1000\r\nLogTrace=0\r\n' > tarvok.ini

env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen TARVOK_HOME="$WORK" \
  "$BIN" -H -C -R -O out.txt list.txt > stdout.txt 2> stderr.txt &
PID=$!

sample() {
  local rss fds threads
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$PID/status" 2>/dev/null) || return 1
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$PID/status" 2>/dev/null) || return 1
  fds=$(ls "/proc/$PID/fd" 2>/dev/null | wc -l)
  lines=$(($(wc -l < out.txt 2>/dev/null || echo 1) - 1))
  [ "$lines" -lt 0 ] && lines=0
  echo "$(date +%s) $lines $rss $fds $threads"
}

echo "# seconds echoes rss_kb fds threads"
start=$(date +%s)
first="" pass1="" last=""
while kill -0 "$PID" 2>/dev/null; do
  s=$(sample) || break
  read -r t n rss fds threads <<<"$s"
  echo "$((t - start)) $n $rss $fds $threads"
  [ -z "$first" ] && first="$n $rss $fds $threads"
  [ -z "$pass1" ] && [ "$n" -ge "$PER_PASS" ] && pass1="$n $rss $fds $threads"
  last="$n $rss $fds $threads"
  if [ "$n" -ge "$ECHOES" ]; then break; fi
  sleep "$EVERY"
done
kill "$PID" 2>/dev/null || true
wait "$PID" 2>/dev/null || true
PID=""

read -r n0 rss0 fds0 thr0 <<<"$first"
read -r n1 rss1 fds1 thr1 <<<"${pass1:-$first}"
read -r n2 rss2 fds2 thr2 <<<"$last"
elapsed=$(($(date +%s) - start))
ng=$(iconv -f CP932 -t UTF-8 out.txt 2>/dev/null | grep -c '^"ＮＧ"' || true)
echo "soak_echoes $n2"
echo "soak_ng_echoes $ng"
echo "soak_seconds $elapsed"
echo "soak_rss_kb_first $rss0"
echo "soak_rss_kb_after_first_pass $rss1"
echo "soak_rss_kb_last $rss2"
echo "soak_rss_growth_after_first_pass_percent $(awk -v a="$rss1" -v b="$rss2" 'BEGIN { printf "%.1f", (b - a) * 100 / a }')"
echo "soak_fds_first $fds0"
echo "soak_fds_after_first_pass $fds1"
echo "soak_fds_last $fds2"
echo "soak_threads_first $thr0"
echo "soak_threads_after_first_pass $thr1"
echo "soak_threads_last $thr2"
if [ "$n2" -lt "$ECHOES" ]; then
  echo "soak: tarvok ended after $n2 echoes" >&2
  cat stderr.txt >&2
  exit 1
fi
