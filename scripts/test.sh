#!/usr/bin/env bash
# Sets up, builds and runs every test: the optimised build, then the debug
# build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
for preset in default debug; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done
