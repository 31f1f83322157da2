#!/usr/bin/env bash
# Runs one lab test executable for CTest: inside a lab of its own when the lab
# can be built (root), otherwise as it is, so that its tests report themselves
# skipped. Listing the tests needs no lab. lab_responder is taken from beside
# the test executable unless LAB_RESPONDER names it.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done
if [ "$(id -u)" -ne 0 ]; then
  export LAB_UNAVAILABLE="the network lab needs root"
  exec "$@"
fi
if [ -z "${LAB_RESPONDER:-}" ] && [ -x "$(dirname "$1")/lab_responder" ]; then
  LAB_RESPONDER="$(cd "$(dirname "$1")" && pwd)/lab_responder"
  export LAB_RESPONDER
fi
exec "$(dirname "${BASH_SOURCE[0]}")/with-lab.sh" "$@"
