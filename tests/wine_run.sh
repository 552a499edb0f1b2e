#!/usr/bin/env bash
# Runs a Windows program under Wine in a virtual X display, with a Wine
# prefix of its own (made at the first run):
#   wine_run.sh WINE_LOADER PREFIX PROGRAM [ARG...]
set -euo pipefail
wine=$1
prefix=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
export WINEPREFIX=$prefix
status=0
xvfb-run -a -s "-noreset -screen 0 640x480x24" "$wine" "$@" || status=$?
"$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
exit "$status"
