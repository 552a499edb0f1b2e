#!/usr/bin/env bash
# Sets up, builds and runs every test: the optimised build (with the soak of
# whole nights over every setting), the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and a minute of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
for preset in default debug tsan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done
fuzz/run.sh "${VELMORA_FUZZ_SECONDS:-60}"
