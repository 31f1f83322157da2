#!/usr/bin/env bash
# The tarvok executable where no ICMP socket can be opened (a datagram socket
# forced, in a fresh network namespace that admits none), in command mode
# without a display: the reason goes to standard error, no window waits for an
# answer, and the exit code is not 0. Then the same as user nobody with the
# echo helper beside tarvok but without its capability: the reason names the
# helper and how to give it the capability. 77 when namespaces are not
# available.
set -u
TARVOK=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null 2>&1; then
  echo "no-icmp: needs root for a network namespace; skipped" >&2
  exit 77
fi
WORK=$(mktemp -d /tmp/tarvok-noicmp.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
printf '127.0.0.1\r\n' > list.txt
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TARVOK_HOME="$WORK" TARVOK_ICMP_SOCKET=datagram \
  timeout 30 unshare -n sh -c 'sysctl -q -w net.ipv4.ping_group_range="1 0"; exec "$0" -H -C -R list.txt' "$TARVOK" \
  > stdout.txt 2> stderr.txt
rc=$?
status=0
if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ]; then echo "FAIL - exit code $rc"; status=1; fi
if ! grep -q 'ICMP ソケットを開けません' stderr.txt || ! grep -q 'cannot open the ICMP socket' stderr.txt; then
  echo "FAIL - no reason in Japanese and English on standard error"; status=1
fi
if [ -s out.txt ] || [ -s TRVLOG.TXT ]; then echo "FAIL - something was logged"; status=1; fi
[ "$status" -eq 0 ] && echo "ok   - ends with exit code $rc and the reason on standard error"
[ "$status" -ne 0 ] && cat stderr.txt

HELPER=$(dirname "$TARVOK")/tarvok-icmp-helper
if [ -x "$HELPER" ] && command -v setpriv >/dev/null 2>&1; then
  mkdir -p nobody/bin
  cp "$TARVOK" "$HELPER" nobody/bin/
  printf '127.0.0.1\r\n' > nobody/list.txt
  chown -R 65534:65534 nobody
  chmod 755 "$WORK"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u TARVOK_ICMP_SOCKET -u TARVOK_ICMP_HELPER \
    TARVOK_HOME="$WORK/nobody" timeout 30 unshare -n sh -c 'cd nobody && sysctl -q -w net.ipv4.ping_group_range="1 0" &&
      exec setpriv --reuid=65534 --regid=65534 --clear-groups bin/tarvok -H -C -R list.txt' \
    > stdout2.txt 2> stderr2.txt
  rc=$?
  failed=0
  if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ]; then echo "FAIL - helper without capability: exit code $rc"; failed=1; fi
  if ! grep -q 'tarvok-icmp-helper' stderr2.txt || ! grep -q 'setcap cap_net_raw+ep' stderr2.txt; then
    echo "FAIL - helper without capability: the reason does not name the helper and its remedy"; failed=1
  fi
  [ -s nobody/TRVLOG.TXT ] && { echo "FAIL - helper without capability: something was logged"; failed=1; }
  if [ "$failed" -eq 0 ]; then
    echo "ok   - helper without capability: exit code $rc, the helper and its remedy named"
  else
    cat stderr2.txt; status=1
  fi
fi
exit "$status"
