#!/usr/bin/env bash
# The layer check: the tree passes, and a tree with includes against the
# layers fails, naming each of them.
set -u
script=$1
tree=$2
fail=0
python3 "$script" "$tree" >/dev/null || { echo "FAIL: the tree has includes against the layers"; python3 "$script" "$tree"; fail=1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp"/src/{app,plan,generator,output,platform/linux} "$tmp"/tools
while IFS='|' read -r file include expect; do
  printf '#include "%s"\n' "$include" >"$tmp/src/$file"
  out=$(python3 "$script" "$tmp"); status=$?
  if [ "$expect" = bad ]; then
    [ $status -eq 1 ] && grep -q "^$file: includes $include" <<<"$out" ||
      { echo "FAIL: $file including $include passed"; fail=1; }
  else
    [ $status -eq 0 ] || { echo "FAIL: $file including $include refused: $out"; fail=1; }
  fi
  rm "$tmp/src/$file"
done <<'CASES'
platform/linux/port.h|app/shared_state.h|bad
platform/linux/port.h|output/audio_ring.h|bad
platform/linux/port.h|app/units.h|good
platform/linux/port.h|platform/port_access.h|good
plan/night_plan.h|generator/generator.h|bad
plan/night_plan.h|app/shared_state.h|good
output/audio_ring.h|generator/generator.h|bad
generator/generator.h|output/audio_ring.h|good
generator/generator.h|platform/clock.h|good
generator/generator.h|platform/sim/sim_clock.h|bad
generator/generator.h|app/main_window.h|bad
app/main_window.h|platform/linux/linux_port.h|good
CASES
exit $fail
