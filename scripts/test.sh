#!/usr/bin/env bash
# Sets up, builds and runs every test: the optimised build (with the soak of
# whole nights over every setting), the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, a minute of each fuzz target, the web build in Chromium, the Windows builds with
# their tests under Wine, the packages, and the style and static checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
# The web site first: the optimised build's tests run it in Chromium.
cmake --preset web >/dev/null
cmake --build --preset web
for preset in default debug tsan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done
scripts/lint.sh build/default
fuzz/run.sh "${VELMORA_FUZZ_SECONDS:-60}"

# Windows: the 64-bit build runs its tests and the end-to-end test under
# 64-bit Wine; the 32-bit velmora.exe, the one shipped, is checked as a
# program and, where this kernel runs 32-bit programs, tested the same way.
for preset in mingw64 mingw; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
if ! scripts/runs_32bit.sh; then
  echo "note: this kernel does not run 32-bit programs; 32-bit Wine was left out"
fi

tests/package_check.sh build/default build/mingw
