#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tarvok and runs the whole test suite.
# The lab tests (real ICMP in network namespaces) need root; without root they
# are reported as skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
./scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
