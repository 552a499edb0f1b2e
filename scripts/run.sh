#!/usr/bin/env bash
# Sets up, builds and starts Velmora. Extra arguments are option words, e.g.
#   scripts/run.sh -2 +3 #
# On a machine without a display it does the main job all the same: it writes
# tonight's programme (velmora-render) and its chart (velmora-plan --chart) to
# the current directory and says where.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
# The programs alone: the tests and benchmarks are for scripts/test.sh.
cmake --build --preset default --target velmora velmora-plan velmora-render
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/default/velmora "$@"
fi
echo "No display: writing tonight's programme and its chart instead."
day=$(date -u +%F)
build/default/velmora-plan --chart "$here/velmora-$day.png" -- "$@" | sed -n '1,10p'
build/default/velmora-render --out "$here/velmora-$day.flac" -- "$@"
echo "Tonight's programme: $here/velmora-$day.flac"
echo "Its chart:           $here/velmora-$day.png"
