#!/usr/bin/env bash
# alert-privileges.sh <tarvok> <tarvok-icmp-helper>
#
# With the package's layout (tarvok in usr/bin, the echo helper in
# usr/libexec/tarvok carrying cap_net_raw+ep), as user nobody, in a fresh
# network namespace whose ping_group_range admits no group (so no datagram
# socket: the helper must serve), tarvok pings 127.0.0.1 in command mode with
# the OK program on. While it runs:
#   - tarvok holds no capability (CapPrm, CapEff, CapAmb 0) and none of its
#     descriptors is a raw socket (its socket inodes against net/raw);
#   - the helper holds the raw socket and no capability either;
#   - the program started by the alert holds no capability;
# and the echoes are answered (ＯＫ in the log). Three ways of starting:
#   package - only the helper carries the capability;
#   legacy  - tarvok carries one too (as an older package left it);
#   ambient - tarvok is started with CAP_NET_RAW in its ambient set.
# 77 without root, setcap, setpriv or unshare.
set -u
TARVOK=$(readlink -f "$1")
HELPER=$(readlink -f "$2")
if [ "$(id -u)" -ne 0 ] || ! command -v setcap >/dev/null || ! command -v setpriv >/dev/null \
   || ! command -v unshare >/dev/null; then
  echo "alert-privileges: needs root, setcap, setpriv and unshare; skipped" >&2
  exit 77
fi
WORK=$(mktemp -d /tmp/tarvok-caps.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
chmod 755 "$WORK"
NOBODY=65534
ZERO=0000000000000000

cat > "$WORK/caps.sh" <<'SH'
#!/bin/sh
# Writes the capability sets of this very process to $1.
{ while read -r k v; do case $k in Cap*) echo "$k $v";; esac; done < /proc/self/status; } > "$1.part" && mv "$1.part" "$1"
SH
chmod 755 "$WORK/caps.sh"

capsOf() { grep -E "^$2:?[[:space:]]" "$1" | awk '{print $2}'; }
# Socket inodes among the descriptors of process $1, one a line.
socketsOf() { for fd in /proc/"$1"/fd/*; do readlink "$fd"; done 2>/dev/null | sed -n 's/^socket:\[\([0-9]*\)\]$/\1/p' | sort -u; }
# Inodes of the raw sockets in the network namespace of process $1.
rawSocketsIn() { awk 'NR > 1 {print $10}' "/proc/$1/net/raw" 2>/dev/null | sort -u; }

status=0
failures=0
for mode in package legacy ambient; do
  home=$WORK/$mode
  mkdir -p "$home/usr/bin" "$home/usr/libexec/tarvok"
  cp "$TARVOK" "$home/usr/bin/tarvok"
  cp "$HELPER" "$home/usr/libexec/tarvok/tarvok-icmp-helper"
  chmod 755 "$home/usr/bin/tarvok" "$home/usr/libexec/tarvok/tarvok-icmp-helper"
  printf '[Tarvok]\r\nOKCommandExec=1\r\nOKCommand=%s\r\nOKCommandOption=%s/caps-%%n.txt\r\n' \
    "$WORK/caps.sh" "$home" > "$home/tarvok.ini"
  printf '127.0.0.1\r\n' > "$home/list.txt"
  printf 'PingCount=5\r\nPingWait=700\r\nTimeOut=1000\r\n' > "$home/list.txt.#CONFIG#"
  chown -R "$NOBODY:$NOBODY" "$home"
  chown -R root:root "$home/usr"
  setcap cap_net_raw+ep "$home/usr/libexec/tarvok/tarvok-icmp-helper" || { echo "setcap failed; skipped" >&2; exit 77; }
  raise=()
  case $mode in
    legacy) setcap cap_net_raw+ep "$home/usr/bin/tarvok" ;;
    ambient) raise=(--inh-caps=+net_raw --ambient-caps=+net_raw) ;;
  esac
  (
    cd "$home" || exit 1
    exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u TARVOK_ICMP_SOCKET -u TARVOK_ICMP_HELPER \
      TARVOK_HOME="$home" \
      unshare -n sh -c 'ip link set lo up && echo "1 0" > /proc/sys/net/ipv4/ping_group_range &&
                        exec setpriv --reuid='$NOBODY' --regid='$NOBODY' --clear-groups "$@"' \
      sh "${raise[@]}" "$home/usr/bin/tarvok" -H -C -R list.txt
  ) > "$home/stdout.txt" 2> "$home/stderr.txt" &
  pid=$!
  # The alert program runs after the first echo; Tarvok goes on pinging.
  for _ in $(seq 1 300); do
    [ -f "$home/caps-127.0.0.1.txt" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  own="" ownSockets="" raw="" helper="" helperCaps="" helperSockets=""
  if kill -0 "$pid" 2>/dev/null; then
    own=$(grep -E '^Cap(Prm|Eff|Amb):' "/proc/$pid/status" 2>/dev/null)
    ownSockets=$(socketsOf "$pid")
    raw=$(rawSocketsIn "$pid")
    helper=$(cat /proc/"$pid"/task/*/children 2>/dev/null | tr ' ' '\n' | while read -r c; do
      [ -n "$c" ] && [ "$(readlink "/proc/$c/exe")" = "$home/usr/libexec/tarvok/tarvok-icmp-helper" ] && echo "$c"
    done | head -n1)
    if [ -n "$helper" ]; then
      helperCaps=$(grep -E '^Cap(Prm|Eff|Amb):' "/proc/$helper/status" 2>/dev/null)
      helperSockets=$(socketsOf "$helper")
    fi
  fi
  for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid"
  rc=$?

  failures=0
  report=$home/caps-127.0.0.1.txt
  if [ "$rc" -ne 0 ]; then
    echo "FAIL - $mode: tarvok ended with $rc"; cat "$home/stderr.txt"; failures=1; status=1; continue
  fi
  if ! grep -q 'ＯＫ' <(iconv -f CP932 -t UTF-8 "$home/TRVLOG.TXT" 2>/dev/null); then
    echo "FAIL - $mode: no OK echo through the helper"; cat "$home/stderr.txt"; failures=1
  fi
  if [ -z "$own" ]; then
    echo "FAIL - $mode: tarvok ended before it could be inspected"; failures=1; status=1; continue
  fi
  if echo "$own" | awk '{print $2}' | grep -qv "^$ZERO\$"; then
    echo "FAIL - $mode: tarvok holds capabilities: $(echo $own)"; failures=1
  fi
  if [ -z "$raw" ]; then
    echo "FAIL - $mode: no raw socket in the namespace at all (is the helper serving?)"; failures=1
  elif [ -n "$(comm -12 <(echo "$ownSockets") <(echo "$raw"))" ]; then
    echo "FAIL - $mode: tarvok holds a raw socket"; failures=1
  fi
  if [ -z "$helper" ]; then
    echo "FAIL - $mode: no helper process under tarvok"; failures=1
  else
    if [ -z "$(comm -12 <(echo "$helperSockets") <(echo "$raw"))" ]; then
      echo "FAIL - $mode: the helper holds no raw socket"; failures=1
    fi
    if [ -z "$helperCaps" ] || echo "$helperCaps" | awk '{print $2}' | grep -qv "^$ZERO\$"; then
      echo "FAIL - $mode: the helper still holds capabilities: $(echo $helperCaps)"; failures=1
    fi
  fi
  if [ ! -f "$report" ]; then
    echo "FAIL - $mode: the alert program did not run"; failures=1; status=1; continue
  fi
  for set in CapPrm CapEff CapAmb CapInh; do
    if [ "$(capsOf "$report" "$set")" != "$ZERO" ]; then
      echo "FAIL - $mode: the alert program holds $set $(capsOf "$report" "$set")"; failures=1
    fi
  done
  if [ "$failures" -eq 0 ]; then
    echo "ok   - $mode: pinged through the helper; no capability and no raw socket in tarvok, none in its alert program"
  else
    status=1
  fi
done
exit "$status"
