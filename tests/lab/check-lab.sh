#!/usr/bin/env bash
# Checks the network lab itself with the system's ping: every address answers
# (or stays silent) as the lab tests rely on. Exit 77 (skipped) without root or
# without ping.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if ! command -v ping >/dev/null 2>&1; then echo "check-lab: ping is not installed; skipped"; exit 77; fi
if [ "${1:-}" != "--inside" ]; then
  exec "$HERE/with-lab.sh" "$HERE/check-lab.sh" --inside
fi

failures=0
total=0
check() {  # check <description> <command...>: the command must succeed
  local what=$1; shift
  total=$((total + 1))
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
output_has() {  # output_has <pattern> <command...>
  local pattern=$1; shift
  local out
  out=$("$@" 2>&1)
  if grep -Eq "$pattern" <<<"$out"; then return 0; fi
  printf '%s\n' "$out" | sed 's/^/     | /'
  return 1
}
lacks_reply() {  # no echo reply and no ICMP error at all
  local out
  out=$(ping -n -c 1 -W "$2" "$1" 2>&1)
  if grep -Eq "bytes from|From " <<<"$out"; then printf '%s\n' "$out" | sed 's/^/     | /'; return 1; fi
  return 0
}

check "datagram ICMP sockets allowed" output_has '^0[[:space:]]+2147483647$' sysctl -n net.ipv4.ping_group_range
if command -v setpriv >/dev/null 2>&1 && id nobody >/dev/null 2>&1; then
  # A copy of ping without its file capability can only use a datagram socket.
  plain=$(mktemp -d)
  cp "$(command -v ping)" "$plain/ping" && chmod 755 "$plain"
  check "unprivileged user pings through a datagram socket" \
    output_has "from $LAB_REACHABLE: " setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
    "$plain/ping" -n -c 1 -W 2 "$LAB_REACHABLE"
  rm -rf "$plain"
fi
check "destination answers with TTL $LAB_REACHABLE_TTL" \
  output_has "from $LAB_REACHABLE: .*ttl=$LAB_REACHABLE_TTL " ping -n -c 1 -W 2 "$LAB_REACHABLE"
check "hop 1 is $LAB_ROUTER1" output_has "From $LAB_ROUTER1 .*Time to live exceeded" ping -n -c 1 -W 2 -t 1 "$LAB_REACHABLE"
check "hop 2 is $LAB_ROUTER2" output_has "From $LAB_ROUTER2 .*Time to live exceeded" ping -n -c 1 -W 2 -t 2 "$LAB_REACHABLE"
check "hop 3 is the destination" output_has "from $LAB_REACHABLE: " ping -n -c 1 -W 2 -t 3 "$LAB_REACHABLE"
check "silent address stays silent" lacks_reply "$LAB_SILENT" 1
check "unreachable prefix answered by $LAB_UNREACHABLE_ROUTER" \
  output_has "From $LAB_UNREACHABLE_ROUTER .*Destination Host Unreachable" ping -n -c 1 -W 2 "$LAB_UNREACHABLE"
check "DF over the path MTU is refused" \
  output_has "Frag needed|[Mm]essage too long|mtu = $LAB_PATH_MTU" ping -n -c 1 -W 2 -M do -s 1200 "$LAB_REACHABLE"
check "fragmented echo over the path MTU is answered" \
  output_has "from $LAB_REACHABLE: " ping -n -c 1 -W 2 -M dont -s 1200 "$LAB_REACHABLE"
check "lab names resolve" output_has "^$LAB_REACHABLE[[:space:]]+$LAB_REACHABLE_NAME" getent hosts "$LAB_REACHABLE_NAME"
start=$(date +%s%N)
check "unknown name does not resolve" bash -c "! getent hosts '$LAB_UNKNOWN_NAME'"
elapsed=$((($(date +%s%N) - start) / 1000000))
check "unknown name fails fast (${elapsed} ms)" test "$elapsed" -lt 2000
if [ -n "$LAB_SLOW" ]; then
  check "slow host is silent before its delay" lacks_reply "$LAB_SLOW" 1
  out=$(ping -n -c 1 -W 5 "$LAB_SLOW" 2>&1)
  rtt=$(sed -n 's/.*time=\([0-9]*\).*/\1/p' <<<"$out" | head -n 1)
  check "slow host answers after ${LAB_SLOW_DELAY_MS} ms (got ${rtt:-none} ms, TTL 62)" \
    bash -c "grep -q 'ttl=62 ' <<<'$out' && [ '${rtt:-0}' -ge '$LAB_SLOW_DELAY_MS' ] && [ '${rtt:-0}' -lt $((LAB_SLOW_DELAY_MS + 1000)) ]"
else
  check "lab_responder available" false
fi

echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
