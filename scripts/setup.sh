#!/usr/bin/env bash
# Installs what Velmora needs to build and test on Debian 12, through sudo when
# not root. Safe to run again.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libsdl2-dev libsdl2-ttf-dev libx11-dev fonts-dejavu-core zlib1g-dev python3)
# The end-to-end tests drive the window on a virtual display.
if [ "${1:-}" = "--tests" ]; then
  packages+=(xvfb xdotool imagemagick clang libclang-rt-14-dev man-db)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
