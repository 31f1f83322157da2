#!/usr/bin/env bash
# Runs bench_echo_rate in a network namespace of its own (only loopback, up),
# then the system's ping over the same number of echoes for comparison.
#
#   bench/run_echo_rate.sh [path/to/bench_echo_rate] [bench options...]
#
# Prints the benchmark's lines, the same to ::1 with the prefix ipv6_, what
# 1024 waiting echoes hold (loopback then answers no echo), and, when ping is
# installed,
# ping_wall_ms / ping_cpu_ms for `ping -c 2000 -i 0.001 127.0.0.1` (the count
# follows --count).
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=${1:-}
if [ -z "$BIN" ]; then
  for candidate in "$HERE"/../build*/bench/bench_echo_rate; do
    if [ -x "$candidate" ]; then BIN=$candidate; break; fi
  done
fi
[ -n "$BIN" ] && [ -x "$BIN" ] || { echo "run_echo_rate: bench_echo_rate not found; pass its path" >&2; exit 2; }
shift $(( $# > 0 ? 1 : 0 ))

if [ "${RUN_ECHO_RATE_INSIDE:-}" != 1 ]; then
  # A fresh network namespace: nothing but loopback, so no echo can leave.
  UNSHARE=(unshare -n)
  [ "$(id -u)" -eq 0 ] || UNSHARE=(unshare -r -n)
  RUN_ECHO_RATE_INSIDE=1 exec "${UNSHARE[@]}" "$0" "$BIN" "$@"
fi

ip link set lo up
# Unprivileged ICMP datagram sockets for every group in this namespace.
sysctl -q -w net.ipv4.ping_group_range="0 2147483647" || true

"$BIN" "$@"
"$BIN" "$@" --address ::1 | sed 's/^/ipv6_/'

# The same number of echoes as the benchmark's (--count), 2000 by default.
count=2000
args=("$@")
for ((i = 0; i + 1 < ${#args[@]}; i++)); do
  if [ "${args[i]}" = --count ]; then count=${args[i + 1]}; fi
done

# What waiting echoes hold: from here on loopback answers nothing.
sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
"$BIN" --waiting 1024
sysctl -q -w net.ipv4.icmp_echo_ignore_all=0

if command -v ping >/dev/null 2>&1; then
  TIMEFORMAT='%3R %3U %3S'
  times=$( { time ping -q -n -c "$count" -i 0.001 127.0.0.1 >/dev/null 2>&1; } 2>&1 )
  read -r real user sys <<<"$times"
  awk -v r="$real" -v u="$user" -v s="$sys" \
    'BEGIN { printf "ping_wall_ms %d\nping_cpu_ms %d\n", r * 1000, (u + s) * 1000 }'
else
  echo "run_echo_rate: ping is not installed; no comparison" >&2
fi
