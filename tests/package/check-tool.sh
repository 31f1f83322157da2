#!/bin/sh
# check-tool.sh <validator> [args...]: runs a validator; exit 77 (skipped)
# when it is not installed. Any message of the validator fails the check, as
# warnings left alone pile up.
command -v "$1" >/dev/null 2>&1 || { echo "$1 is not installed: skipped"; exit 77; }
out=$("$@" 2>&1)
rc=$?
[ -n "$out" ] && printf '%s\n' "$out"
case "$1" in
    # appstreamcli always prints its verdict; only its exit status counts.
    appstreamcli) exit $rc ;;
esac
[ $rc -eq 0 ] && [ -z "$out" ]
