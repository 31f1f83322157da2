#!/usr/bin/env bash
# The tarvok executable where no ICMP socket can be opened (a datagram socket
# forced, in a fresh network namespace that admits none), in command mode
# without a display: the reason goes to standard error, no window waits for an
# answer, and the exit code is not 0. 77 when namespaces are not available.
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
exit "$status"
