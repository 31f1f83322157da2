#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tarvok and starts it.
#
# The operator's settings and target list stay outside the build tree (in
# TARVOK_HOME, by default ~/.config/tarvok), so deleting build/ loses
# nothing. Files an earlier version of this script left beside the program
# in build/ are copied there once.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
./scripts/build.sh
export TARVOK_HOME="${TARVOK_HOME:-${XDG_CONFIG_HOME:-$HOME/.config}/tarvok}"
mkdir -p "$TARVOK_HOME"
for f in tarvok.ini Tarvok.def; do
    if [ -f "build/src/app/$f" ] && [ ! -e "$TARVOK_HOME/$f" ]; then
        cp -p "build/src/app/$f" "$TARVOK_HOME/$f"
    fi
done
exec ./build/src/app/tarvok "$@"
