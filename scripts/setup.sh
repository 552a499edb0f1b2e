#!/usr/bin/env bash
# Installs what Velmora needs to build and test on Debian 12, through sudo when
# not root. Safe to run again.
#   scripts/setup.sh             the Linux build
#   scripts/setup.sh --windows   and the Windows cross build (mingw-w64, zip)
#   scripts/setup.sh --tests     and everything the tests use, Wine included
#   scripts/setup.sh --bench     and what the benchmarks in bench/ run beside velmora
#   scripts/setup.sh --web       and emscripten, for the web build (cmake --preset web)
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libflac-dev libmd-dev libsdl2-dev libfreetype-dev libx11-dev libsystemd-dev fonts-dejavu-core zlib1g-dev python3)
web=(emscripten)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest zip unzip file nsis)
for option in "$@"; do
  case "$option" in
    --windows) packages+=("${windows[@]}") ;;
    --tests)
      # The end-to-end tests drive the windows on virtual displays (Xvfb, and
      # a headless sway for Wayland); the Windows build's run under Wine with
      # PulseAudio capturing its sound; the package is checked with lintian;
      # the code with clang-format and clang-tidy; the light box's firmware is
      # built with avr-gcc and run in simavr; SDL's X11 message boxes need the
      # X core fonts; the sound server's faults are played against PulseAudio
      # and PipeWire; velmora-render's flushes are watched with strace; the
      # web build runs in headless Chromium driven by Selenium.
      packages+=("${windows[@]}" "${web[@]}" chromium chromium-driver python3-selenium xvfb xdotool imagemagick clang libclang-rt-14-dev man-db
                 clang-format clang-tidy x11-xserver-utils suckless-tools
                 python3-dbusmock dbus desktop-file-utils appstream
                 sway grim libgl1-mesa-dri libegl-mesa0
                 gcc-avr avr-libc binutils-avr simavr libsimavr-dev libsimavrparts1 avrdude
                 wine wine64 pulseaudio pulseaudio-utils dpkg-dev lintian fakeroot
                 xfonts-base x11-utils pipewire pipewire-pulse wireplumber strace)
      ;;
    --bench) packages+=(flac time xvfb xdotool) ;;
    --web) packages+=("${web[@]}" python3) ;;
    *) echo "usage: scripts/setup.sh [--windows] [--tests] [--bench] [--web]" >&2; exit 2 ;;
  esac
done
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# A mirror in the middle of a sync fails an index now and then: try again,
# then go on with the indexes there are (apt-get install says what is missing).
apt_update() {
  for attempt in 1 2 3; do
    "${as_root[@]}" apt-get update -q && return 0
    echo "setup: apt-get update failed (try $attempt of 3)" >&2
    sleep 10
  done
  echo "setup: going on with the package indexes there are" >&2
}
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt_update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
# 32-bit Wine, for the 32-bit velmora.exe, only where the kernel runs 32-bit
# programs (some kernels have that switched off). Where the archive's i386
# side cannot be had (a mirror without it, or out of step with amd64), the
# 32-bit build is checked as a program only, as on such kernels.
if [[ " $* " == *" --tests "* ]] && scripts/runs_32bit.sh &&
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  "${as_root[@]}" dpkg --add-architecture i386
  apt_update
  if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine32:i386; then
    echo "setup: note: 32-bit Wine (wine32:i386) could not be installed; the 32-bit velmora.exe is not run under Wine" >&2
  fi
fi
