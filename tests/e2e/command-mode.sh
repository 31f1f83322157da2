#!/usr/bin/env bash
# The tarvok executable in command mode, run inside the network lab (through
# tests/lab/with-lab.sh) with no display and TARVOK_HOME at a fresh folder:
#
#   command-mode.sh <tarvok> run       -H -C -R -O out.txt list.txt over a
#                                      reachable, a silent and an unknown host:
#                                      ends by itself with exit code 0
#   command-mode.sh <tarvok> sigterm   the same list repeated periodically,
#   command-mode.sh <tarvok> sigint    ended by the signal after its end steps,
#   command-mode.sh <tarvok> sighup    with exit code 128 + the signal
#   command-mode.sh <tarvok> unattended  what goes wrong without anybody
#                                      watching: no target, a log that cannot
#                                      be written, a bad parameter file, no
#                                      -R, an empty argument, --ng-exit, a FIFO
#                                      as output log or target file, a stale
#                                      display, a CP932 file name; each must
#                                      end with the right exit code and message
#
# Afterwards: out.txt holds the header and one line per echo in CP932 with
# CR LF, and the settings file and the parameter file have been written.
# Exit status 0 when all holds, 1 otherwise, 77 outside the lab.
set -u

TARVOK=$(readlink -f "$1")
MODE=$2
if [ -z "${LAB_REACHABLE:-}" ]; then
  echo "command-mode: not inside the network lab" >&2
  exit 77
fi

WORK=$(mktemp -d /tmp/tarvok-e2e.XXXXXX)
PID=""
cleanup() {
  if [ -n "$PID" ]; then kill -KILL "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/checks.sh"

export TARVOK_HOME="$WORK/home"
mkdir -p "$TARVOK_HOME"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_RUNTIME_DIR
cd "$WORK" || exit 1

if [ "$MODE" = unattended ]; then
  C="$WORK/case"
  # fresh: empty program and working folders. tv <seconds> <args...>: tarvok
  # in the working folder; exit status in $rc (137 when it had to be killed).
  fresh() { rm -rf "$C" "$TARVOK_HOME"; mkdir -p "$C" "$TARVOK_HOME"; }
  tv() { local limit=$1; shift; (cd "$C" && exec timeout -s KILL "$limit" "$TARVOK" "$@" > out 2> err); rc=$?; }
  ended_failing() { test "$rc" != 0 -a "$rc" != 137; }
  list() { # list <name> <PingCount>
    printf '%s\r\n' "$LAB_REACHABLE" > "$C/$1"
    printf 'PingCount=%s\r\nPingWait=10\r\nTimeOut=500\r\n' "$2" > "$C/$1.#CONFIG#"
  }

  # No target (a mistyped name, a list of comments only): the status text on
  # standard error, a failure code.
  fresh; tv 30 -H -C -R -O out.txt missing.txt
  check "no target file: ends with a failure code ($rc)" ended_failing
  check "no target file: the reason on standard error" grep -q '対象アドレスが１件もありません。' "$C/err"
  fresh; printf '; only a comment\r\n\r\n' > "$C/c.txt"; tv 30 -H -C -R c.txt
  check "comments only: ends with a failure code ($rc)" ended_failing

  # A log that cannot be written: the lost lines counted on standard error.
  fresh; list l.txt 2; tv 60 -H -C -R -O sub/out.txt l.txt
  check "unwritable log: failure code ($rc)" ended_failing
  check "unwritable log: file and count on standard error" grep -q 'sub/out.txt.*2 件' "$C/err"

  # A line still waiting when the run ends gets the rest of its retries: the
  # folder appears a second later, and the line is written.
  fresh; list l.txt 1
  tv 60 -H -C -R -O sub/out.txt l.txt & bg=$!
  sleep 1; mkdir "$C/sub"; wait "$bg"; rc=$?
  check "late log folder: exit code 0 ($rc)" test "$rc" = 0
  check "late log folder: the line written after the run" test "$(grep -c $'\r$' "$C/sub/out.txt" 2>/dev/null)" = 2

  # A bad value in the parameter file: nothing runs and nothing is written.
  fresh; list l.txt 1; printf 'PingCount=9\r\nPingWait=x1\r\n' > "$C/l.txt.#CONFIG#"
  tv 30 -H -C -R l.txt
  check "bad parameter value: failure code ($rc)" ended_failing
  check "bad parameter value: the parameter file is kept" cmp -s "$C/l.txt.#CONFIG#" <(printf 'PingCount=9\r\nPingWait=x1\r\n')
  check "bad parameter value: no settings written" test -z "$(ls -A "$TARVOK_HOME")"

  # No -R and no display: a hint, a failure code, nothing written.
  fresh; list l.txt 1; tv 30 l.txt
  check "no display: failure code ($rc)" ended_failing
  check "no display: the hint on standard error" grep -q -- '-H -C -R' "$C/err"
  check "no display: nothing written" test -z "$(ls -A "$TARVOK_HOME")"
  # -R without -C would never end: refused the same way, with status 2.
  fresh; list l.txt 1; tv 30 -H -R l.txt
  check "-R without -C, no display: exit code 2 ($rc)" test "$rc" = 2
  check "-R without -C, no display: the hint" grep -q -- '-H -C -R' "$C/err"
  check "-R without -C, no display: nothing written" test -z "$(ls -A "$TARVOK_HOME")$(ls -A "$C" | grep -v '^l.txt\|^out$\|^err$')"

  # --ng-exit: 3 when an echo was judged NG, 0 when all were OK.
  fresh; list l.txt 1; tv 30 -H -C -R --ng-exit -O out.txt l.txt
  check "--ng-exit, all OK: exit code 0 ($rc)" test "$rc" = 0
  printf '%s\r\n' "$LAB_SILENT" >> "$C/l.txt"; tv 30 -H -C -R --ng-exit -O out.txt l.txt
  check "--ng-exit, one NG: exit code 3 ($rc)" test "$rc" = 3
  tv 30 -H -C -R -O out.txt l.txt
  check "without --ng-exit, one NG: exit code 0 ($rc)" test "$rc" = 0

  # A FIFO as output log or as target file blocks nothing: refused with its
  # name, and the program ends.
  fresh; list l.txt 1; mkfifo "$C/fifo"; tv 30 -H -C -R -O fifo l.txt
  check "FIFO as output log: ends with status 1 ($rc)" test "$rc" = 1
  check "FIFO as output log: named on standard error" grep -q 'fifo.*通常のファイルではない' "$C/err"
  tv 30 -H -C -R -O out.txt fifo
  check "FIFO as target file: ends without hanging ($rc)" ended_failing
  check "FIFO as target file: named on standard error" grep -q 'fifo.*通常のファイルではない' "$C/err"

  # A stale display: run as without one, with one line about it.
  fresh; list l.txt 1
  (cd "$C" && DISPLAY=:97 exec timeout -s KILL 30 "$TARVOK" -H -C -R -O out.txt l.txt > out 2> err); rc=$?
  check "stale display: exit code 0 ($rc)" test "$rc" = 0
  check "stale display: one line on standard error" test "$(wc -l < "$C/err")" = 1
  check "stale display: the run logged" test -s "$C/out.txt"

  # A target file named in CP932 bytes opens, and its parameter file is
  # the one beside it.
  fresh; name=$(printf '\x91\xce\x8f\xdb.txt'); list "$name" 1
  tv 30 -H -C -R -O out.txt "$name"
  check "CP932 file name: exit code 0 ($rc)" test "$rc" = 0
  check "CP932 file name: the list was pinged" test "$(grep -c $'\r$' "$C/out.txt" 2>/dev/null)" = 2
  check "CP932 file name: no stray parameter file" test "$(ls "$C" | grep -c CONFIG)" = 1

  # An empty argument names no file: the default list runs.
  fresh; printf '%s\r\n' "$LAB_REACHABLE" > "$TARVOK_HOME/Tarvok.def"
  tv 30 -H -C -R "" -O out.txt ""
  check "empty argument: exit code 0 ($rc)" test "$rc" = 0
  check "empty argument: the default list logged" test -s "$C/out.txt"
  check "empty argument: no hidden parameter file" test ! -e "$C/.#CONFIG#"

  [ "$failures" -eq 0 ] || { echo "--- last stderr"; cat "$C/err" 2>/dev/null; exit 1; }
  exit 0
fi

printf '%s reachable\r\n%s\r\n%s unknown\r\n' "$LAB_REACHABLE" "$LAB_SILENT" "$LAB_UNKNOWN_NAME" > list.txt
if [ "$MODE" = run ]; then
  printf 'PingCount=2\r\nPingWait=10\r\nTimeOut=500\r\nSorted=1\r\n' > list.txt.#CONFIG#
else
  printf 'PingCount=1\r\nPingWait=10\r\nTimeOut=300\r\nSorted=1\r\nParmanent=1\r\nInterval=0\r\n' > list.txt.#CONFIG#
fi

"$TARVOK" -H -C -R -O out.txt list.txt > stdout.txt 2> stderr.txt &
PID=$!

# Waits up to $1 seconds for the program to end; its exit status in $rc.
wait_end() {
  local limit=$(( $1 * 10 ))
  for _ in $(seq 1 "$limit"); do
    if ! kill -0 "$PID" 2>/dev/null; then
      wait "$PID"; rc=$?; PID=""; return 0
    fi
    sleep 0.1
  done
  return 1
}
lines() { [ -f out.txt ] && tr -cd '\n' < out.txt | wc -c || echo 0; }

rc=""
if [ "$MODE" = run ]; then
  check "ends by itself" wait_end 60
  check "exit code 0 (was ${rc:-none})" test "${rc:-x}" = 0
  expected_echoes=6
else
  # Two passes logged, then the signal.
  for _ in $(seq 1 300); do [ "$(lines)" -ge 7 ] && break; sleep 0.1; done
  check "two passes logged before the signal" test "$(lines)" -ge 7
  case "$MODE" in
    sigterm) kill -TERM "$PID" 2>/dev/null ;;
    sigint) kill -INT "$PID" 2>/dev/null ;;
    sighup) kill -HUP "$PID" 2>/dev/null ;;
  esac
  check "ends on the signal" wait_end 30
  case "$MODE" in
    sigterm) want=143 ;;
    sigint) want=130 ;;
    sighup) want=129 ;;
  esac
  check "exit code $want (was ${rc:-none})" test "${rc:-x}" = "$want"
  expected_echoes=""
fi
[ -n "$PID" ] && { kill -KILL "$PID"; wait "$PID" 2>/dev/null; PID=""; }

# The log: CP932, every line ended by CR LF, the header first.
check "out.txt written" test -s out.txt
total=$(lines)
crlf=$(grep -c $'\r$' out.txt)
check "every line ends with CR LF ($crlf of $total)" test "$total" -gt 0 -a "$crlf" = "$total" -a "$(tail -c 1 out.txt | od -An -c | tr -d ' ')" = '\n'
iconv -f CP932 -t UTF-8 out.txt | tr -d '\r' > out.utf8 2>/dev/null
check "out.txt is CP932 text" test -s out.utf8
header='"結果","日時","対象","ＩＰアドレス","ステータス","備考"'
check "header line" test "$(head -n 1 out.utf8)" = "$header"
check "one header only" test "$(grep -c '^"結果"' out.utf8)" = 1
echoes=$((total - 1))
if [ -n "$expected_echoes" ]; then
  check "one line per echo ($echoes)" test "$echoes" = "$expected_echoes"
fi
ok_lines=$(grep -c "^\"ＯＫ\",\"[0-9/: ]*\",$LAB_REACHABLE,$LAB_REACHABLE,\"Time: *[0-9]*ms\",reachable\$" out.utf8)
silent_lines=$(grep -c "^\"ＮＧ\",\"[0-9/: ]*\",$LAB_SILENT,.*,$" out.utf8)
unknown_lines=$(grep -c "^\"ＮＧ\",\"[0-9/: ]*\",$LAB_UNKNOWN_NAME,,.*,unknown\$" out.utf8)
check "every echo judged and logged ($ok_lines ok, $silent_lines silent, $unknown_lines unknown)" \
  test $((ok_lines + silent_lines + unknown_lines)) = "$echoes" -a "$ok_lines" -ge 1 -a "$silent_lines" -ge 1 -a "$unknown_lines" -ge 1
check "the three hosts equally often" test "$ok_lines" -ge "$silent_lines" -a "$silent_lines" -ge "$unknown_lines" -a $((ok_lines - unknown_lines)) -le 1

# The history: every logged echo is in the file, as other tools read it,
# with the reachable host's round trips in microseconds and an outage of the
# silent host that lasts.
db="$TARVOK_HOME/history.sqlite"
if command -v sqlite3 > /dev/null; then
  check "history: one row per logged echo" test "$(sqlite3 "$db" 'SELECT count(*) FROM echoes')" = "$echoes"
  check "history: the reachable host answered in microseconds" \
    test "$(sqlite3 "$db" "SELECT count(*) FROM echoes WHERE target = '$LAB_REACHABLE' AND rtt_us > 0 AND ng = 0")" = "$ok_lines"
  check "history: the silent host's outage lasts" \
    test "$(sqlite3 "$db" "SELECT count(*) FROM outages WHERE target = '$LAB_SILENT' AND end_us IS NULL")" = 1
  check "history: the file is sound" test "$(sqlite3 "$db" 'PRAGMA integrity_check')" = ok
fi

# The settings and the parameter file, written at the end.
ini="$TARVOK_HOME/$(basename "$TARVOK").ini"
check "settings file written" grep -q '^\[Placement\]' "$ini"
check "settings file has the preferences" grep -q '^SaveConfig=' "$ini"
check "parameter file rewritten" sh -c "iconv -f CP932 -t UTF-8 'list.txt.#CONFIG#' | head -n 1 | grep -q '^; このファイルは'"
check "parameter file keeps the list's values" grep -q $'^PingWait=10\r$' list.txt.#CONFIG#
if [ "$MODE" != run ]; then
  check "parameter file keeps periodic execution" grep -q $'^Parmanent=1\r$' list.txt.#CONFIG#
fi
check "nothing on standard output" test ! -s stdout.txt
check "nothing on standard error" test ! -s stderr.txt

if [ "$failures" -ne 0 ]; then
  echo "--- stderr"; cat stderr.txt
  echo "--- out.txt"; cat out.utf8
  exit 1
fi
exit 0
