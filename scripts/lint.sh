#!/usr/bin/env bash
# The style and static checks of CI: clang-format over every C and C++ file, and
# clang-tidy (the checks in .clang-tidy) over the Linux build's sources.
#   scripts/lint.sh [BUILD_DIR]     (default build/default, configured already)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
[ -f "$build/compile_commands.json" ] || { echo "lint: configure $build first" >&2; exit 2; }

echo "== clang-format"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

echo "== clang-tidy"
# The Win32 back-end is checked by its own compiler's warnings.
mapfile -t files < <(git ls-files 'src/*.cpp' 'tools/*.cpp' | grep -v '/win32' | grep -v 'win32_main')
run-clang-tidy -p "$build" -j "$(nproc)" -quiet "${files[@]/#/$PWD/}" >"$build/clang-tidy.log" 2>&1 || {
  grep -E '(warning|error): ' "$build/clang-tidy.log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u
  echo "lint: clang-tidy found the above (full log: $build/clang-tidy.log)" >&2
  exit 1
}
echo "lint: clean (${#files[@]} files)"
