#!/usr/bin/env bash
# Builds a throw-away network lab out of network namespaces, runs a command in
# its host namespace and removes the lab again, whatever way the command ends.
#
#   tests/lab/with-lab.sh <command> [args...]
#
# Topology (all addresses in 198.18.0.0/15, nothing connected to the machine's
# real network):
#
#   host 198.18.1.2 -- 198.18.1.1 r1 198.18.2.1 -- 198.18.2.2 r2 198.18.3.1 -- 198.18.3.2 dst
#                                                             r2 198.18.4.1 -- 198.18.4.2 slow
#
# r1 black-holes 198.18.100.0/24 (silent), r2 answers "host unreachable" for
# 198.18.200.0/24, the r2-dst link has MTU 1000, and slow ignores echoes in its
# kernel and answers them late through lab_responder.
#
# IPv6 (2001:2::/48) takes the same path, with its own last link (IPv6 needs
# an MTU of at least 1280, the r2-dst link has 1000):
#
#   host 2001:2:0:1::2 -- ::1 r1 2001:2:0:2::1 -- ::2 r2 2001:2:0:3::1 -- 2001:2:0:3::2 dst   (MTU 1280)
#
# r1 black-holes 2001:2:0:100::/64, r2 answers "no route" for
# 2001:2:0:200::/64, and r2 answers "packet too big" for echoes larger than
# the 1280-byte link to dst.
#
# The command sees the lab through LAB_* environment variables (see README.md).
# Exit status: the command's; 77 when the lab cannot be built for lack of
# root; 1 when building it failed.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <command> [args...]" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "with-lab: the network lab needs root (network namespaces); skipped" >&2
  exit 77
fi
if ! command -v ip >/dev/null 2>&1; then
  echo "with-lab: 'ip' (iproute2) is missing" >&2
  exit 1
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SLOW_DELAY_MS=${LAB_SLOW_DELAY_MS:-1500}

# The delayed responder: LAB_RESPONDER, or a build tree beside the sources.
RESPONDER=${LAB_RESPONDER:-}
if [ -z "$RESPONDER" ]; then
  for candidate in "$HERE"/../../build*/tests/lab/lab_responder; do
    if [ -x "$candidate" ]; then RESPONDER=$candidate; break; fi
  done
fi

# Labs left behind by a with-lab.sh that was killed outright (SIGKILL leaves
# no chance to clean up): their namespaces carry the pid of a dead process.
for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^tvk[0-9]+x[0-9]+-'); do
  owner=${ns#tvk}
  owner=${owner%%x*}
  if ! kill -0 "$owner" 2>/dev/null; then
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  fi
done

ID="tvk$$x$RANDOM"
NS_HOST="${ID}-host"
NS_R1="${ID}-r1"
NS_R2="${ID}-r2"
NS_DST="${ID}-dst"
NS_SLOW="${ID}-slow"
ALL_NS=("$NS_HOST" "$NS_R1" "$NS_R2" "$NS_DST" "$NS_SLOW")
WORK=$(mktemp -d "/tmp/${ID}.XXXXXX")
RESPONDER_PID=""
CHILD_PID=""

teardown() {
  trap - EXIT INT TERM HUP
  if [ -n "$CHILD_PID" ]; then kill -TERM "$CHILD_PID" 2>/dev/null; wait "$CHILD_PID" 2>/dev/null; fi
  if [ -n "$RESPONDER_PID" ]; then kill -TERM "$RESPONDER_PID" 2>/dev/null; wait "$RESPONDER_PID" 2>/dev/null; fi
  for ns in "${ALL_NS[@]}"; do
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  done
  rmdir /etc/netns 2>/dev/null
  rm -rf "$WORK"
}
trap 'teardown' EXIT
trap 'teardown; exit 130' INT
trap 'teardown; exit 143' TERM
trap 'teardown; exit 129' HUP

fail() {
  echo "with-lab: $*" >&2
  exit 1
}

in_ns() { ip netns exec "$1" "${@:2}"; }
quiet_sysctl() { in_ns "$1" sysctl -q -w "$2" >/dev/null || fail "sysctl $2 in $1"; }

for ns in "${ALL_NS[@]}"; do
  ip netns add "$ns" || fail "cannot create namespace $ns"
  ip -n "$ns" link set lo up || fail "loopback in $ns"
  # IPv6 addresses, link-local ones too, usable at once: no duplicate address
  # detection (neighbour discovery would otherwise wait for it for seconds).
  quiet_sysctl "$ns" net.ipv6.conf.all.accept_dad=0
  quiet_sysctl "$ns" net.ipv6.conf.default.accept_dad=0
done

# link <ns-a> <if-a> <addr-a/len> <ns-b> <if-b> <addr-b/len> [mtu]
link() {
  ip -n "$1" link add "$2" type veth peer name "$5" netns "$4" || fail "veth $1/$2-$4/$5"
  ip -n "$1" addr add "$3" dev "$2" || fail "address $3"
  ip -n "$4" addr add "$6" dev "$5" || fail "address $6"
  if [ $# -ge 7 ]; then
    ip -n "$1" link set "$2" mtu "$7" || fail "mtu $7"
    ip -n "$4" link set "$5" mtu "$7" || fail "mtu $7"
  fi
  ip -n "$1" link set "$2" up || fail "link $2 up"
  ip -n "$4" link set "$5" up || fail "link $5 up"
}

link "$NS_HOST" eth0 198.18.1.2/24 "$NS_R1" eth0 198.18.1.1/24
link "$NS_R1" eth1 198.18.2.1/24 "$NS_R2" eth0 198.18.2.2/24
link "$NS_R2" eth1 198.18.3.1/24 "$NS_DST" eth0 198.18.3.2/24 1000
link "$NS_R2" eth2 198.18.4.1/24 "$NS_SLOW" eth0 198.18.4.2/24

# link6 <ns-a> <if-a> <addr-a/len> <ns-b> <if-b> <addr-b/len>: IPv6 addresses
# on a link, usable at once (no duplicate address detection).
link6() {
  ip -n "$1" -6 addr add "$3" dev "$2" nodad || fail "address $3"
  ip -n "$4" -6 addr add "$6" dev "$5" nodad || fail "address $6"
}
link6 "$NS_HOST" eth0 2001:2:0:1::2/64 "$NS_R1" eth0 2001:2:0:1::1/64
link6 "$NS_R1" eth1 2001:2:0:2::1/64 "$NS_R2" eth0 2001:2:0:2::2/64
link "$NS_R2" eth3 2001:2:0:3::1/64 "$NS_DST" eth1 2001:2:0:3::2/64 1280

ip -n "$NS_HOST" route add default via 198.18.1.1 || fail "host route"
ip -n "$NS_R1" route add default via 198.18.2.2 || fail "r1 route"
ip -n "$NS_R1" route add blackhole 198.18.100.0/24 || fail "r1 blackhole"
ip -n "$NS_R2" route add 198.18.1.0/24 via 198.18.2.1 || fail "r2 route"
ip -n "$NS_R2" route add unreachable 198.18.200.0/24 || fail "r2 unreachable"
ip -n "$NS_DST" route add default via 198.18.3.1 || fail "dst route"
ip -n "$NS_SLOW" route add default via 198.18.4.1 || fail "slow route"
ip -n "$NS_HOST" -6 route add default via 2001:2:0:1::1 || fail "host route (IPv6)"
ip -n "$NS_R1" -6 route add default via 2001:2:0:2::2 || fail "r1 route (IPv6)"
ip -n "$NS_R1" -6 route add blackhole 2001:2:0:100::/64 || fail "r1 blackhole (IPv6)"
ip -n "$NS_R2" -6 route add 2001:2:0:1::/64 via 2001:2:0:2::1 || fail "r2 route (IPv6)"
ip -n "$NS_R2" -6 route add unreachable 2001:2:0:200::/64 || fail "r2 unreachable (IPv6)"
ip -n "$NS_DST" -6 route add default via 2001:2:0:3::1 || fail "dst route (IPv6)"

for ns in "$NS_R1" "$NS_R2"; do
  quiet_sysctl "$ns" net.ipv4.ip_forward=1
  # Every probe of a test must get its answer: no rate limit on ICMP errors.
  quiet_sysctl "$ns" net.ipv4.icmp_ratelimit=0
  # Nor the kernel's global (and randomised) limit on ICMP errors.
  quiet_sysctl "$ns" net.ipv4.icmp_ratemask=0
  quiet_sysctl "$ns" net.ipv6.conf.all.forwarding=1
  quiet_sysctl "$ns" net.ipv6.icmp.ratelimit=0
done
# Unprivileged ICMP datagram sockets for every group in the host.
quiet_sysctl "$NS_HOST" "net.ipv4.ping_group_range=0 2147483647"
quiet_sysctl "$NS_SLOW" net.ipv4.icmp_echo_ignore_all=1

# Name service inside the lab host: lab names in its own hosts file, and no
# name server at all, so that unknown names fail at once.
mkdir -p "/etc/netns/$NS_HOST" || fail "/etc/netns/$NS_HOST"
: > "/etc/netns/$NS_HOST/resolv.conf"
{
  cat /etc/hosts 2>/dev/null | grep -E '^[[:space:]]*(127\.|::1)' || echo "127.0.0.1 localhost"
  echo "198.18.1.1 r1.lab.test"
  echo "198.18.2.2 r2.lab.test"
  echo "198.18.3.2 dst.lab.test dst"
  echo "198.18.4.2 slow.lab.test"
  echo "2001:2:0:3::2 dst6.lab.test"
  echo "198.18.3.2 dual.lab.test"
  echo "2001:2:0:3::2 dual.lab.test"
} > "/etc/netns/$NS_HOST/hosts"

if [ -n "$RESPONDER" ]; then
  ip netns exec "$NS_SLOW" "$RESPONDER" --delay "$SLOW_DELAY_MS" --lifetime 3600 --ready-file "$WORK/responder.ready" &
  RESPONDER_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$WORK/responder.ready" ] && break
    kill -0 "$RESPONDER_PID" 2>/dev/null || fail "lab_responder did not start"
    sleep 0.05
  done
  [ -s "$WORK/responder.ready" ] || fail "lab_responder did not get ready"
else
  echo "with-lab: lab_responder not found (set LAB_RESPONDER); the slow host stays silent" >&2
fi

export LAB_ID="$ID"
export LAB_HOST_NS="$NS_HOST"
export LAB_HOST_ADDR=198.18.1.2
export LAB_ROUTER1=198.18.1.1
export LAB_ROUTER2=198.18.2.2
export LAB_REACHABLE=198.18.3.2
export LAB_REACHABLE_NAME=dst.lab.test
export LAB_REACHABLE_TTL=62
export LAB_REACHABLE_HOPS=3
export LAB_PATH_MTU=1000
export LAB_SILENT=198.18.100.1
export LAB_UNREACHABLE=198.18.200.1
export LAB_UNREACHABLE_ROUTER=198.18.2.2
export LAB_UNKNOWN_NAME=no-such-host.invalid
export LAB6_HOST_ADDR=2001:2:0:1::2
export LAB6_ROUTER1=2001:2:0:1::1
export LAB6_ROUTER2=2001:2:0:2::2
export LAB6_REACHABLE=2001:2:0:3::2
export LAB6_REACHABLE_NAME=dst6.lab.test
export LAB6_REACHABLE_HOPLIMIT=62
export LAB6_PATH_MTU=1280
export LAB6_SILENT=2001:2:0:100::1
export LAB6_UNREACHABLE=2001:2:0:200::1
export LAB_DUAL_NAME=dual.lab.test
if [ -n "$RESPONDER" ]; then
  export LAB_SLOW=198.18.4.2
  export LAB_SLOW_DELAY_MS="$SLOW_DELAY_MS"
else
  export LAB_SLOW=""
  export LAB_SLOW_DELAY_MS=""
fi

# The command runs in the background so that a signal reaches the traps at once.
ip netns exec "$NS_HOST" "$@" &
CHILD_PID=$!
wait "$CHILD_PID"
rc=$?
CHILD_PID=""
exit "$rc"
