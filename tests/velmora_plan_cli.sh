#!/usr/bin/env bash
# End-to-end checks of velmora-plan: the documented plan, the full table, JSON
# and CSV shapes, and the exit status of bad input.
set -u
plan=$1
fail=0
check() {  # check NAME COMMAND...: the command must succeed
  local name=$1; shift
  if ! "$@"; then echo "FAIL: $name"; fail=1; fi
}

out=$("$plan" --at 2005-09-29T00:00:00Z -- m1) || { echo "FAIL: plan run"; exit 1; }
check "planMinutes 467" grep -Eq '^  planMinutes +467 ' <<<"$out"
check "moon age" grep -q 'age 25.2145 days at 2005-09-29 00:00:00 UTC' <<<"$out"
check "cycle 2 start" grep -Eq '^ +2 +1067 +21.34 +27 ' <<<"$out"

# The whole table: 336 rows, spot cells from the known table.
csv=$("$plan" --all --csv)
check "table header" test "$(head -1 <<<"$csv")" = "remCount,timePlus,moonFactor,cycleUnit,planMinutes"
check "table rows" test "$(tail -n +2 <<<"$csv" | wc -l)" -eq 336
check "row order" test "$(sed -n 2p <<<"$csv")" = "2,0,1,46,141"
check "cell 6,1,1" grep -qx '6,1,1,50,467' <<<"$csv"
check "cell 7,6,1" grep -qx '7,6,1,70,690' <<<"$csv"
check "cell 7,6,7" grep -qx '7,6,7,82,708' <<<"$csv"
check "last row" test "$(tail -1 <<<"$csv")" = "$(tail -1 <<<"$csv" | grep -E '^7,6,8,')"

# JSON: parses, has the keys, null rates for a minute without a pulse.
json=$("$plan" --json --at 1127952000 -- m1)
check "json keys" python3 -c '
import json, sys
d = json.loads(sys.argv[1])
for k in ["moonAgeDays","moonFactor","remCount","timePlus","cycleUnit","stretch","cycleTicks",
          "planMinutes","samplePos","cycles","minutes"]:
    assert k in d, k
assert d["planMinutes"] == 467 and d["samplePos"] == 898556832
assert [c["startValue"] for c in d["cycles"]] == [450,1067,1295,1385,1557,1878,2021]
assert len(d["minutes"]) == 467
m67 = d["minutes"][67]
assert m67["planFreq"] is None and m67["planPulseSeconds"] is None, m67
assert d["minutes"][68]["planFreq"] == 40 and d["minutes"][68]["stage"] == "  REM Beta"
' "$json"

# CSV of the minutes.
mcsv=$("$plan" --csv --at 0 -- m1)
check "minutes csv header" test "$(head -1 <<<"$mcsv")" = "minute,planFreq,planPulseSeconds,stage"
check "minutes csv rows" test "$(tail -n +2 <<<"$mcsv" | wc -l)" -eq 467
check "minute 67 empty" grep -qx '67,,,"NREM3 Delta"' <<<"$mcsv"

# Bad input: one line on stderr and status 2; help and version succeed.
for bad in "--at bogus" "--at" "--nope" "--json --csv"; do
  err=$("$plan" $bad 2>&1 >/dev/null); status=$?
  check "status 2 for '$bad'" test $status -eq 2
  check "message for '$bad'" grep -q '^velmora-plan: ' <<<"$err"
done
check "help" "$plan" --help >/dev/null
check "version" grep -Eq '^velmora-plan [0-9]+\.[0-9]+\.[0-9]+$' <<<"$("$plan" --version)"
# Settings outside the bounds are clamped and said so.
err=$("$plan" --at 0 -- r99 2>&1 >/dev/null)
check "clamp note" grep -q 'remCount 99 is outside 1..14; using 14' <<<"$err"

exit $fail
