#!/usr/bin/env bash
# Sets up, builds and runs Velmora's main job: tonight's night plan, and
# tonight's programme rendered to an audio file in the current directory.
# Extra arguments are option words, e.g. scripts/run.sh -2 +3 #
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
build/default/velmora-plan -- "$@" | sed -n '1,20p'
out="$here/velmora-$(date -u +%F).flac"
build/default/velmora-render --out "$out" -- "$@"
echo "Tonight's programme is in $out"
