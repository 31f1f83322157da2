#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tarvok and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
./scripts/build.sh
exec ./build/src/app/tarvok "$@"
