#!/bin/sh
# An alert program for Tarvok. In the options (環境設定), tab NG時処理:
#   プログラム:   /path/to/tarvok-alert.sh
#   オプション:   NG "%n" "%d" "%s" "%e"
# and on the tab OK時処理 the same with OK in place of NG. Tarvok starts it
# with the kind, the target, the date and time, the message and the comment
# as five arguments, without a shell.
#
# Writes the alert to the system log (journalctl -t tarvok) and shows a
# desktop notification where notify-send is installed (libnotify-bin).

kind=${1:-NG}
target=${2:-}
when=${3:-}
message=${4:-}
comment=${5:-}

text="$kind $target${comment:+ ($comment)} $when: $message"
logger -t tarvok -- "$text"

if command -v notify-send >/dev/null 2>&1; then
    urgency=normal
    [ "$kind" = NG ] && urgency=critical
    notify-send -u "$urgency" -a Tarvok "Tarvok $kind: $target" "$when $message${comment:+
$comment}"
fi
exit 0
