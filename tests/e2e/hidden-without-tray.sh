#!/usr/bin/env bash
# "tarvok -H" on an X display whose window manager offers no notification
# area (Xvfb with openbox): the window cannot hide behind a tray icon, so it
# must start minimised, where the operator can still reach it. Runs the
# program in a fresh network namespace; 77 (skipped) without root, Xvfb,
# openbox or xdotool.
set -u
TARVOK=$(readlink -f "$1")
for tool in Xvfb openbox xdotool xprop unshare; do
  command -v "$tool" >/dev/null 2>&1 || { echo "hidden-without-tray: $tool missing; skipped" >&2; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "hidden-without-tray: needs root for a network namespace; skipped" >&2; exit 77; }

WORK=$(mktemp -d /tmp/tarvok-x11.XXXXXX)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$(dirname "$(readlink -f "$0")")/../x11/x-session-lib.sh"
start_x_session || exit $?

mkdir -p "$WORK/home"
printf '198.18.0.1\r\n' > "$WORK/list.txt"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
TARVOK_HOME="$WORK/home" unshare -n "$TARVOK" -H "$WORK/list.txt" > "$WORK/out" 2> "$WORK/err" & TPID=$!
PIDS+=($TPID)

wid=""
for _ in $(seq 1 300); do
  wid=$(xdotool search --name '^Tarvok - list.txt$' 2>/dev/null | head -n 1)
  [ -n "$wid" ] && xprop -id "$wid" WM_STATE 2>/dev/null | grep -q 'window state' && break
  sleep 0.1
done
status=0
if [ -z "$wid" ]; then
  echo "FAIL - no main window on the display"; status=1
elif ! xprop -id "$wid" WM_STATE | grep -q 'window state: Iconic'; then
  echo "FAIL - the main window is not minimised: $(xprop -id "$wid" WM_STATE | tr '\n' ' ')"; status=1
else
  echo "ok   - the main window starts minimised"
fi
kill -TERM "$TPID"; wait "$TPID"; rc=$?
[ "$rc" -eq 0 ] || { echo "FAIL - exit code $rc"; status=1; }
[ "$status" -eq 0 ] || { echo "--- stderr"; cat "$WORK/err"; }
exit "$status"
