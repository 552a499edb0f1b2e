#!/usr/bin/env bash
# Sets up, builds and runs Velmora's main job: tonight's night plan.
# Extra arguments are option words, e.g. scripts/run.sh -2 +3
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/velmora-plan -- "$@"
