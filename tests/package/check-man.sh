#!/bin/sh
# check-man.sh <page>...: every manual page renders with man -l without a
# single warning of groff or man, the way lintian renders them.
command -v man >/dev/null 2>&1 || { echo "man is not installed: skipped"; exit 77; }
status=0
for page in "$@"; do
    err=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    lines=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l)
    if [ -n "$err" ]; then
        echo "FAIL $page:"; printf '%s\n' "$err"; status=1
    elif [ "$lines" -lt 50 ]; then
        echo "FAIL $page: only $lines lines rendered"; status=1
    else
        echo "ok   $page ($lines lines)"
    fi
done
exit $status
