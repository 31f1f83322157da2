#!/usr/bin/env bash
# A program started by an alert gets no capability, however Tarvok got the
# CAP_NET_RAW of its raw ICMP socket, and Tarvok itself holds none once its
# socket is open:
#   file  - the executable carries the file capability cap_net_raw+ep;
#   ambient - it is started with CAP_NET_RAW in the ambient set.
# Both run as user nobody in a fresh network namespace, pinging loopback in
# command mode with the OK program on. 77 without root, setcap or setpriv.
set -u
TARVOK=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ] || ! command -v setcap >/dev/null || ! command -v setpriv >/dev/null \
   || ! command -v unshare >/dev/null; then
  echo "alert-privileges: needs root, setcap, setpriv and unshare; skipped" >&2
  exit 77
fi
WORK=$(mktemp -d /tmp/tarvok-caps.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
chmod 755 "$WORK"
NOBODY=65534

cat > "$WORK/caps.sh" <<'SH'
#!/bin/sh
# Writes the capability sets of this very process to $1.
{ while read -r k v; do case $k in Cap*) echo "$k $v";; esac; done < /proc/self/status; } > "$1.part" && mv "$1.part" "$1"
SH
chmod 755 "$WORK/caps.sh"

capsOf() { grep -E "^$2:?[[:space:]]" "$1" | awk '{print $2}'; }

status=0
for mode in file ambient; do
  home=$WORK/$mode
  mkdir -p "$home/bin"
  cp "$TARVOK" "$home/bin/tarvok"
  chmod 755 "$home/bin/tarvok"
  printf '[Tarvok]\r\nOKCommandExec=1\r\nOKCommand=%s\r\nOKCommandOption=%s/caps-%%n.txt\r\n' \
    "$WORK/caps.sh" "$home" > "$home/tarvok.ini"
  printf '127.0.0.1\r\n' > "$home/list.txt"
  printf 'PingCount=4\r\nPingWait=700\r\nTimeOut=1000\r\n' > "$home/list.txt.#CONFIG#"
  chown -R "$NOBODY:$NOBODY" "$home"
  chown root:root "$home/bin/tarvok"
  if [ "$mode" = file ]; then
    setcap cap_net_raw+ep "$home/bin/tarvok" || { echo "setcap failed; skipped" >&2; exit 77; }
    raise=()
  else
    raise=(--inh-caps=+net_raw --ambient-caps=+net_raw)
  fi
  (
    cd "$home" || exit 1
    exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TARVOK_HOME="$home" TARVOK_ICMP_SOCKET=raw \
      unshare -n sh -c 'ip link set lo up && exec setpriv --reuid='$NOBODY' --regid='$NOBODY' --clear-groups "$@"' \
      sh "${raise[@]}" "$home/bin/tarvok" -H -C -R list.txt
  ) > "$home/stdout.txt" 2> "$home/stderr.txt" &
  pid=$!
  # The alert program runs after the first echo; Tarvok goes on pinging.
  for _ in $(seq 1 300); do
    [ -f "$home/caps-127.0.0.1.txt" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  own=""
  if kill -0 "$pid" 2>/dev/null; then
    own=$(grep -E '^Cap(Prm|Eff|Amb):' "/proc/$pid/status" 2>/dev/null)
  fi
  for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid"
  rc=$?

  report=$home/caps-127.0.0.1.txt
  if [ "$rc" -ne 0 ]; then
    echo "FAIL - $mode: tarvok ended with $rc"; cat "$home/stderr.txt"; status=1; continue
  fi
  if ! grep -q 'ＯＫ' <(iconv -f CP932 -t UTF-8 "$home/TRVLOG.TXT" 2>/dev/null); then
    echo "FAIL - $mode: no OK echo over the raw socket"; cat "$home/stderr.txt"; status=1
  fi
  if [ ! -f "$report" ]; then
    echo "FAIL - $mode: the alert program did not run"; status=1; continue
  fi
  for set in CapPrm CapEff CapAmb CapInh; do
    if [ "$(capsOf "$report" "$set")" != 0000000000000000 ]; then
      echo "FAIL - $mode: the alert program holds $set $(capsOf "$report" "$set")"; status=1
    fi
  done
  if [ -z "$own" ]; then
    echo "FAIL - $mode: tarvok ended before its own capabilities could be read"; status=1
  elif echo "$own" | awk '{print $2}' | grep -qv '^0000000000000000$'; then
    echo "FAIL - $mode: tarvok still holds capabilities: $(echo $own)"; status=1
  fi
  [ "$status" -eq 0 ] && echo "ok   - $mode: neither tarvok nor the program of its alert holds a capability"
done
exit "$status"
