#!/usr/bin/env bash
# The tarvok executable in a real X server with a window manager, driven by
# xdotool: x11-session.sh <tarvok> <case>, case one of
#   title    the main window's title as the window manager shows it
#   version  the toolbar button opens the version box once; the button is
#            disabled while the box is open and enabled again after it closed
#   find     Ctrl+F opens the find dialog
# Starts its own Xvfb (on a free display it picks itself) and openbox. Exit
# 77 (skipped) when Xvfb, openbox, xdotool or ImageMagick are missing, or
# when no network namespace can be made for the program's ICMP socket.
set -u
TARVOK=$(readlink -f "$1")
CASE=$2
export LC_ALL=C.UTF-8
for tool in Xvfb openbox xdotool xprop import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "x11: $tool is not installed; skipped" >&2
    exit 77
  fi
done
# The program opens its ICMP socket at start: it runs in a network namespace
# of its own, where nothing it could send leaves the machine.
if [ "$(id -u)" -eq 0 ]; then NETNS=(unshare -n)
elif unshare -rn true 2>/dev/null; then NETNS=(unshare -rn)
else
  echo "x11: no network namespace for the program; skipped" >&2
  exit 77
fi

WORK=$(mktemp -d /tmp/tarvok-x11.XXXXXX)
PIDS=()
cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; wait "${PIDS[i]}" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$(dirname "$(readlink -f "$0")")/x-session-lib.sh"
start_x_session || exit $?

env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TARVOK_HOME="$WORK" "${NETNS[@]}" "$TARVOK" > "$WORK/tarvok.log" 2>&1 &
PIDS+=($!)

status=0
fail() { echo "FAIL - $*"; status=1; }
ok() { echo "ok   - $*"; }

# Windows of the program whose _NET_WM_NAME is exactly $1.
windows_named() {
  local w
  for w in $(xdotool search --onlyvisible --pid "${PIDS[2]}" 2>/dev/null); do
    [ "$(xprop -id "$w" -notype _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p')" = "$1" ] && echo "$w"
  done
}
wait_count() { # name count [tenths of a second, default 300]
  for _ in $(seq "${3:-300}"); do [ "$(windows_named "$1" | wc -l)" -eq "$2" ] && return 0; sleep 0.1; done
  return 1
}
# Whether the magenta of the tulip shows in the main window's toolbar, i.e.
# whether btnVersion is drawn enabled.
tulip_in_toolbar() {
  local geo x y
  geo=$(xdotool getwindowgeometry --shell "$MAIN")
  x=$(echo "$geo" | sed -n 's/^X=//p'); y=$(echo "$geo" | sed -n 's/^Y=//p')
  import -window root -crop "532x80+$x+$y" -depth 8 txt:- 2>/dev/null | grep -qi '#E628C8'
}

# Screen position of the tulip's first magenta pixel in the toolbar.
tulip_position() {
  local geo x y p
  geo=$(xdotool getwindowgeometry --shell "$MAIN")
  x=$(echo "$geo" | sed -n 's/^X=//p'); y=$(echo "$geo" | sed -n 's/^Y=//p')
  p=$(import -window root -crop "532x80+$x+$y" -depth 8 txt:- 2>/dev/null | grep -i '#E628C8' | head -n1 | cut -d: -f1)
  echo "$((x + ${p%,*})) $((y + ${p#*,}))"
}

# Waits until the button is drawn enabled (1) or disabled (0); repaints lag
# on a busy machine.
wait_tulip() {
  for _ in $(seq 50); do
    if tulip_in_toolbar; then [ "$1" -eq 1 ] && return 0; else [ "$1" -eq 0 ] && return 0; fi
    sleep 0.2
  done
  return 1
}

if ! wait_count "Tarvok - Tarvok.def" 1; then
  fail "no main window titled \"Tarvok - Tarvok.def\"; windows:"
  for w in $(xdotool search --pid "${PIDS[2]}" 2>/dev/null); do xprop -id "$w" _NET_WM_NAME; done
  cat "$WORK/tarvok.log"
  exit 1
fi
MAIN=$(windows_named "Tarvok - Tarvok.def")
xdotool windowactivate --sync "$MAIN" 2>/dev/null
sleep 0.5

case "$CASE" in
title)
  ok "main window titled \"Tarvok - Tarvok.def\" by the window manager"
  [ "$(xprop -id "$MAIN" -notype WM_ICON_NAME _NET_WM_ICON 2>/dev/null | grep -c '_NET_WM_ICON')" -ge 1 ] &&
    ok "main window has an icon" || fail "main window has no icon"
  ;;
version)
  box="Tarvok のバージョン情報"
  wait_tulip 1 && ok "version button enabled before" || fail "version button not drawn enabled before"
  # The toolbar button, found by its picture, clicked as the operator would.
  pos=$(tulip_position)
  xdotool mousemove $pos click 1
  wait_count "$box" 1 && ok "the version button opens the version box" || fail "no version box"
  wait_tulip 0 && ok "version button disabled while the box is open" || fail "version button still enabled"
  # A second request, by the button and by the menu, opens nothing.
  xdotool mousemove $pos click 1
  xdotool windowactivate --sync "$MAIN" 2>/dev/null
  xdotool key alt+h && sleep 1 && xdotool key v && sleep 0.5 && xdotool key Escape
  sleep 2
  [ "$(windows_named "$box" | wc -l)" -eq 1 ] && ok "a second request opens no second box" ||
    fail "$(windows_named "$box" | wc -l) version boxes"
  xdotool windowactivate --sync "$(windows_named "$box" | head -n1)" 2>/dev/null
  xdotool key Escape
  wait_count "$box" 0 && ok "Escape closes the box" || fail "the box stays after Escape"
  wait_tulip 1 && ok "version button enabled again" || fail "version button still disabled after closing"
  ;;
find)
  # Under load the first key may reach the window before it has the focus.
  found=1
  for _ in 1 2 3; do
    xdotool windowactivate --sync "$MAIN" 2>/dev/null
    xdotool key ctrl+f
    if wait_count "検索" 1 50; then found=0; break; fi
  done
  if [ "$found" -eq 0 ]; then
    ok "Ctrl+F opens the find dialog"
  else
    fail "no find dialog after Ctrl+F; windows, focus:"
    for w in $(xdotool search --pid "${PIDS[2]}" 2>/dev/null); do xprop -id "$w" _NET_WM_NAME WM_STATE 2>/dev/null | tr '\n' ' '; echo; done
    cat "$WORK/tarvok.log" "$WORK/openbox.log"
  fi
  ;;
*)
  echo "unknown case $CASE" >&2
  exit 2
  ;;
esac
exit "$status"
