#!/usr/bin/env bash
# Runs a lab test executable for CTest: inside a lab of its own when the lab
# can be built (root), otherwise as it is with LAB_UNAVAILABLE set, so that its
# tests report themselves skipped. Listing the tests needs no lab.
# lab_responder is LAB_RESPONDER, or found in tests/lab/ of the build tree
# that holds the executable; the echo helper is TARVOK_ICMP_HELPER, or found
# in src/app/ of that build tree.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done
if [ "$(id -u)" -ne 0 ]; then
  export LAB_UNAVAILABLE="the network lab needs root"
  exec "$@"
fi
if [ -z "${LAB_RESPONDER:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ -n "$dir" ] && [ "$dir" != / ]; do
    for candidate in "$dir/lab_responder" "$dir/tests/lab/lab_responder"; do
      if [ -x "$candidate" ]; then export LAB_RESPONDER=$candidate; break 2; fi
    done
    dir=$(dirname "$dir")
  done
fi
if [ -z "${TARVOK_ICMP_HELPER:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ -n "$dir" ] && [ "$dir" != / ]; do
    if [ -x "$dir/src/app/tarvok-icmp-helper" ]; then export TARVOK_ICMP_HELPER=$dir/src/app/tarvok-icmp-helper; break; fi
    dir=$(dirname "$dir")
  done
fi
exec "$(dirname "${BASH_SOURCE[0]}")/with-lab.sh" "$@"
