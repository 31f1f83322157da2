#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Tarvok need.
set -euo pipefail
PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libgl-dev qt6-qpa-plugins
  libqt6multimedia6 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3  # the history file and its end-to-end check
  iproute2 iputils-ping libcap2-bin procps
  fping  # benchmark peer (bench/run_peers.sh)
  qt6-httpserver-dev qt6-websockets-dev  # the metrics endpoint (Qt HttpServer needs both)
  prometheus curl  # the metrics endpoint scraped by a real Prometheus (tests/package)
  fonts-ipafont-gothic qt6-translations-l10n
  clang libclang-rt-14-dev
  # packaging, manual pages, user guide and its screenshots
  dpkg-dev fakeroot file lintian desktop-file-utils appstream man-db groff-base
  cmark-gfm librsvg2-bin xvfb openbox xdotool imagemagick x11-utils
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
