#!/bin/bash
# Makes the screenshots of the user guide and the AppStream metadata again:
#
#   docs/screenshots.sh [--check] [--display :N] <tarvok executable> [output folder]
#
# Runs Tarvok in a real X server (Xvfb with the openbox window manager)
# inside the test network of tests/lab (network namespaces, root needed), so
# that every echo goes to lab hosts and no packet leaves the machine. Tarvok
# pings a list of lab targets, then the script captures
#
#   alert.png       the NG popup over the main window
#   results.png     the Ping 結果 tab      statistics.png  the Ping 統計 tab
#   targets.png     the 対象 tab           parameters.png  the 環境 tab
#   graph.png       the グラフ tab         traceroute.png  the TraceRoute tab after a trace run
#   options.png     the options dialog     options-ng.png  its NG時処理 tab
#
# into the output folder (default: docs/images beside this script).
# --check writes into a scratch folder and only checks that every image was
# made and shows something (exit 0), for the test suite. Exit 77 when root,
# Xvfb, openbox, xdotool or ImageMagick is missing.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
CHECK=0
DISPLAY_ARG=""
while [ $# -gt 0 ]; do
    case "$1" in
        --check) CHECK=1; shift ;;
        --display) DISPLAY_ARG=$2; shift 2 ;;
        *) break ;;
    esac
done
if [ $# -lt 1 ]; then
    echo "usage: $0 [--check] [--display :N] <tarvok executable> [output folder]" >&2
    exit 2
fi
TARVOK=$(readlink -f "$1")
OUT=${2:-$HERE/images}

# Outside the lab: check the tools, then run this script again inside a lab.
if [ -z "${LAB_HOST_NS:-}" ]; then
    for tool in Xvfb openbox xdotool import identify iconv; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
    done
    if [ "$(id -u)" -ne 0 ]; then
        echo "the lab needs root: skipped"
        exit 77
    fi
    # The slow host answers after 340 ms: slow enough to count as NG with
    # the 200 ms threshold below, quick enough to keep the run short.
    args=()
    [ $CHECK -eq 1 ] && args+=(--check)
    [ -n "$DISPLAY_ARG" ] && args+=(--display "$DISPLAY_ARG")
    LAB_SLOW_DELAY_MS=340 exec "$HERE/../tests/lab/with-lab.sh" "$0" "${args[@]}" "$TARVOK" "$OUT"
fi

WORK=$(mktemp -d /tmp/tarvok-shots.XXXXXX)
PIDS=()
cleanup() {
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[$i]}" 2>/dev/null
        wait "${PIDS[$i]}" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
[ $CHECK -eq 1 ] && OUT=$WORK/out
mkdir -p "$OUT"

say() { echo "screenshots: $*"; }
die() { echo "screenshots: $*" >&2; exit 1; }

# X server and window manager. Xvfb picks a free display unless one is given.
if [ -n "$DISPLAY_ARG" ]; then
    Xvfb "$DISPLAY_ARG" -screen 0 840x640x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    PIDS+=($!)
    export DISPLAY=$DISPLAY_ARG
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
else
    Xvfb -displayfd 3 -screen 0 840x640x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    [ -s "$WORK/display" ] || die "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=:$(tr -dc 0-9 < "$WORK/display")
fi
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
openbox >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
sleep 1

# Tarvok's own folder: settings that show the alert popup, treat slow replies
# as NG and log every echo (the log tells when the run is over).
export TARVOK_HOME=$WORK/home
mkdir -p "$TARVOK_HOME"
cd "$WORK" || exit 1
to_cp932() { iconv -f UTF-8 -t CP932 | sed 's/$/\r/'; }
to_cp932 > "$TARVOK_HOME/tarvok.ini" <<EOF
[Placement]
Left=40
Top=30
Width=760
Height=560
Maximized=0
Column1=60,150,110,100,140,150
Column2=150,70,70,70,80,80,80,120
[Tarvok]
LogTrace=1
LogDirectory=$WORK/
FixedLogFileName=run.log
UseLogFileDate=0
NGPopup=1
NGChangeIcon=1
CheckRTT=1
CheckRTTValue=200
NGCommandExec=1
NGCommand=/usr/local/bin/tarvok-alert.sh
NGCommandOption=NG "%n" "%d" "%s" "%e"
[Graph]
TimeWindow=3
EOF
to_cp932 > list.txt <<EOF
; 拠点ネットワーク (試験用)
$LAB_ROUTER1 センタールータ
$LAB_REACHABLE_NAME 拠点サーバ
$LAB_REACHABLE 拠点サーバ (IP)
$LAB_SLOW 低速回線の端末
# 停止中の端末は監視から外さない
$LAB_SILENT 停止中の端末
$LAB_UNREACHABLE 到達不能な拠点
EOF
# Echoes per target: enough for the graph to show a course over time; a
# check needs fewer.
count=25
[ $CHECK -eq 1 ] && count=4
to_cp932 > list.txt.#CONFIG# <<EOF
PingCount=$count
PingWait=100
Sorted=0
TimeOut=800
BlockSize=64
TimeToLive=64
Parmanent=0
Interval=5
MaxHops=4
ResolveHostName=1
EOF
echoes=$((count * 6))

"$TARVOK" -R list.txt >"$WORK/tarvok.log" 2>&1 &
TARVOK_PID=$!
PIDS+=($TARVOK_PID)

window_of() { # window_of <title regex>: the first visible window with that title
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1
}
wait_window() { # wait_window <title regex> <seconds>
    local w=""
    for _ in $(seq $(( $2 * 10 ))); do
        w=$(window_of "$1")
        [ -n "$w" ] && { echo "$w"; return 0; }
        kill -0 "$TARVOK_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
# Waits until a window looks the same for two seconds (a trace adds a hop
# every half second), at most $2 seconds.
wait_still() {
    local last="" now
    for _ in $(seq $(( $2 * 2 ))); do
        now=$(import -window "$1" rgb:- 2>/dev/null | md5sum)
        if [ "$now" = "$last" ]; then
            sleep 1.5
            [ "$(import -window "$1" rgb:- 2>/dev/null | md5sum)" = "$now" ] && return 0
        fi
        last=$now
        sleep 0.5
    done
    return 1
}
shot() { # shot <window> <name>
    import -strip -window "$1" "$OUT/$2.png" || die "could not capture $2"
    say "$2.png"
}
key() { # key <window> <keys...>: activates the window, then types
    local w=$1; shift
    xdotool windowactivate --sync "$w" >/dev/null 2>&1 || xdotool windowfocus --sync "$w"
    sleep 0.3
    xdotool key --clearmodifiers "$@"
    sleep 0.7
}

MAIN=$(wait_window '^Tarvok - list.txt' 20) || die "the main window did not appear: $(cat "$WORK/tarvok.log")"

# The ping run: wait for every echo in the log (its header plus one line each).
for _ in $(seq 1800); do
    [ -f run.log ] && [ "$(tr -cd '\n' < run.log | wc -c)" -ge $((echoes + 1)) ] && break
    sleep 0.1
done
[ "$(tr -cd '\n' < run.log 2>/dev/null | wc -c)" -ge $((echoes + 1)) ] || die "the ping run did not finish"
sleep 1

POPUP=$(wait_window 'NG 通知' 5) || die "no NG popup"
import -strip -window root "$OUT/alert.png" && say alert.png
key "$POPUP" Return

wait_still "$MAIN" 10
shot "$MAIN" results
key "$MAIN" ctrl+Tab
shot "$MAIN" statistics
key "$MAIN" ctrl+Tab ctrl+Tab
shot "$MAIN" graph
key "$MAIN" ctrl+Tab
shot "$MAIN" targets
key "$MAIN" ctrl+Tab
shot "$MAIN" parameters

# A route trace over the same list.
key "$MAIN" F6
sleep 1
wait_still "$MAIN" 90 || die "the trace did not finish"
shot "$MAIN" traceroute

# The options dialog: its first tab, then the NG tab.
key "$MAIN" alt+Return
OPTIONS=$(wait_window '環境設定' 10) || die "the options dialog did not open"
sleep 0.5
shot "$OPTIONS" options
key "$OPTIONS" ctrl+Tab ctrl+Tab
shot "$OPTIONS" options-ng
key "$OPTIONS" Escape

kill -TERM "$TARVOK_PID"
for _ in $(seq 50); do kill -0 "$TARVOK_PID" 2>/dev/null || break; sleep 0.1; done

names=(alert results statistics graph targets parameters traceroute options options-ng)
if [ $CHECK -eq 1 ]; then
    failures=0
    for n in "${names[@]}"; do
        f=$OUT/$n.png
        info=$(identify -format '%m %w %h %k' "$f" 2>/dev/null)
        read -r fmt w h colours <<<"$info"
        if [ "${fmt:-}" = PNG ] && [ "${w:-0}" -ge 300 ] && [ "${h:-0}" -ge 200 ] && [ "${colours:-0}" -ge 16 ]; then
            echo "ok   - $n.png: ${w}x${h}, $colours colours"
        else
            echo "FAIL - $n.png: ${info:-missing}"
            failures=$((failures + 1))
        fi
    done
    [ $failures -eq 0 ]
    exit
fi
say "written to $OUT"
