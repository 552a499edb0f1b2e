#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60) from the
# checked-in corpus. A crash leaves its input in fuzz/crashes/; make it a
# regression test in tests/ and add it to the corpus.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF \
  -DVELMORA_DESKTOP=OFF >/dev/null
cmake --build build/fuzz --target fuzz_options fuzz_numbers fuzz_tool_args
mkdir -p fuzz/crashes
for target in options numbers tool_args; do
  work=$(mktemp -d)
  cp fuzz/corpus/"$target"/* "$work"/
  echo "fuzz_$target: ${seconds}s"
  build/fuzz/fuzz_"$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=fuzz/crashes/"$target"- "$work" 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY" || true
  rm -rf "$work"
  if ls fuzz/crashes/"$target"-* >/dev/null 2>&1; then
    echo "fuzz_$target found a crash: $(ls fuzz/crashes/"$target"-*)"
    exit 1
  fi
done
