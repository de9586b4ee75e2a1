#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Torvikel needs.
# Works as root or through sudo; safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev
  clang libclang-rt-14-dev clang-format
  python3 python3-pyftpdlib
  gpsd gpsd-clients socat gpsbabel libxml2-utils chromium
  fonts-dejavu-core fonts-wqy-microhei fontconfig
  dpkg-dev file librsvg2-bin man-db groff-base lintian desktop-file-utils appstream
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  # gpsd's package would start a system daemon that takes port 2947 and any receiver plugged
  # in; the tests start their own on a private port. Services stay down during the install.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
