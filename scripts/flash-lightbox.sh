#!/usr/bin/env bash
# Flashes the light box's firmware into an ATmega328P board (Arduino Uno,
# Nano) through its bootloader, with avrdude (Debian package avrdude).
#   scripts/flash-lightbox.sh [--port DEVICE] [--board uno|nano|nano-old] [--dry-run] [HEX]
# DEVICE defaults to /dev/ttyACM0 (an Uno; a Nano with a CH340 is /dev/ttyUSB0).
# HEX defaults to the build's lightbox.hex, else the installed one.
set -euo pipefail
usage() {
  sed -n '2,7s/^# \{0,1\}//p' "$0"
  echo "  --board   uno (default) and nano: 115200 baud; nano-old: the old bootloader, 57600"
  echo "  --dry-run print the avrdude command instead of running it"
}
port=/dev/ttyACM0
board=uno
dry=0
hex=""
while (($#)); do
  case "$1" in
    --help | -h) usage; exit 0 ;;
    --version) echo "flash-lightbox (velmora) 0.1.0"; exit 0 ;;
    --port) port=${2:?--port needs a device}; shift 2 ;;
    --port=*) port=${1#--port=}; shift ;;
    --board) board=${2:?--board needs a name}; shift 2 ;;
    --board=*) board=${1#--board=}; shift ;;
    --dry-run) dry=1; shift ;;
    -*) echo "flash-lightbox: unknown option '$1'" >&2; usage >&2; exit 2 ;;
    *) [ -z "$hex" ] || { echo "flash-lightbox: one HEX file only" >&2; exit 2; }; hex=$1; shift ;;
  esac
done
case "$board" in
  uno | nano) baud=115200 ;;
  nano-old) baud=57600 ;;
  *) echo "flash-lightbox: unknown board '$board' (uno, nano, nano-old)" >&2; exit 2 ;;
esac
if [ -z "$hex" ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  for candidate in "$here/build/default/firmware/lightbox/lightbox.hex" /usr/share/velmora/lightbox.hex; do
    [ -f "$candidate" ] && { hex=$candidate; break; }
  done
  [ -n "$hex" ] || { echo "flash-lightbox: no lightbox.hex: build it first (needs gcc-avr and avr-libc)" >&2; exit 1; }
fi
[ -f "$hex" ] || { echo "flash-lightbox: no such file '$hex'" >&2; exit 1; }
command=(avrdude -p atmega328p -c arduino -P "$port" -b "$baud" -D -U "flash:w:$hex:i")
if ((dry)); then
  printf '%q ' "${command[@]}"; echo
  exit 0
fi
command -v avrdude >/dev/null || { echo "flash-lightbox: avrdude is not installed (apt-get install avrdude)" >&2; exit 1; }
[ -e "$port" ] || { echo "flash-lightbox: no board on $port (is it plugged in? try --port /dev/ttyUSB0)" >&2; exit 1; }
[ -w "$port" ] || { echo "flash-lightbox: $port is not writable: add yourself to the group dialout and log in again" >&2; exit 1; }
exec "${command[@]}"
