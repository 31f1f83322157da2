# Sourced by the tests that need a real X server: starts Xvfb on a display of
# its own and openbox on it, exports DISPLAY and appends both processes to
# PIDS (the caller kills them). Returns 77 (skip) when Xvfb never answers and
# 1 when openbox never takes the screen. Needs WORK, a scratch folder.

# A display of its own, from a range that servers choosing the lowest free
# number do not reach; a server that does not answer is replaced. Starts of
# these tests are taken one at a time.
start_x_session() {
  local attempt N XVFB OPENBOX wm=1
  exec 9> /tmp/tarvok-x11-start.lock
  flock 9
  for attempt in 1 2 3; do
    N=$((700 + RANDOM % 250))
    while [ -e "/tmp/.X11-unix/X$N" ] || [ -e "/tmp/.X$N-lock" ]; do N=$((N + 1)); done
    export DISPLAY=":$N"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 9>&- &
    XVFB=$!
    for _ in $(seq 100); do xprop -root >/dev/null 2>&1 && break; kill -0 "$XVFB" 2>/dev/null || break; sleep 0.1; done
    if xprop -root >/dev/null 2>&1; then PIDS+=("$XVFB"); break; fi
    kill "$XVFB" 2>/dev/null; wait "$XVFB" 2>/dev/null
    if [ "$attempt" -eq 3 ]; then
      echo "x11: Xvfb did not start; skipped" >&2
      cat "$WORK/xvfb.log" >&2
      flock -u 9; exec 9>&-
      return 77
    fi
  done
  # The window manager, given a few tries while other servers start.
  for attempt in 1 2 3; do
    openbox > "$WORK/openbox.log" 2>&1 9>&- &
    OPENBOX=$!
    for _ in $(seq 100); do
      if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then wm=0; break; fi
      kill -0 "$OPENBOX" 2>/dev/null || break
      sleep 0.1
    done
    [ "$wm" -eq 0 ] && break
    kill "$OPENBOX" 2>/dev/null; wait "$OPENBOX" 2>/dev/null
    sleep 0.5
  done
  PIDS+=("$OPENBOX")
  flock -u 9
  exec 9>&-
  if [ "$wm" -ne 0 ]; then
    echo "FAIL - openbox did not start on $DISPLAY"
    cat "$WORK/openbox.log" "$WORK/xvfb.log"
    return 1
  fi
  return 0
}
