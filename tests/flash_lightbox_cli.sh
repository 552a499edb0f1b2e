#!/usr/bin/env bash
# scripts/flash-lightbox.sh with a stand-in avrdude that records its
# arguments, and a "board" that is a file of the test's own.
set -u
script=$1
fail=0
check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAIL: $name"; fail=1; fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/avrdude" <<'STUB'
#!/bin/sh
printf '%s\n' "$@" >"$AVRDUDE_ARGS"
STUB
chmod +x "$work/bin/avrdude"
printf ':00000001FF\n' >"$work/box.hex"
touch "$work/ttyACM0"
export AVRDUDE_ARGS="$work/args" PATH="$work/bin:$PATH"

"$script" --port "$work/ttyACM0" "$work/box.hex"; status=$?
check "flashes: status 0" test "$status" -eq 0
check "flashes: the bootloader's protocol, the chip, the port, 115200 baud, the file" \
  test "$(tr '\n' ' ' <"$work/args")" = \
  "-p atmega328p -c arduino -P $work/ttyACM0 -b 115200 -D -U flash:w:$work/box.hex:i "
"$script" --port="$work/ttyACM0" --board nano-old "$work/box.hex"
check "nano-old: 57600 baud" grep -qx 57600 "$work/args"

rm -f "$work/args"
while IFS='|' read -r name expect_status expect_text args; do
  read -ra argv <<<"$args"
  err=$("$script" "${argv[@]}" 2>&1 >/dev/null); status=$?
  check "$name: status $expect_status" test "$status" -eq "$expect_status"
  check "$name: says so" grep -qF "$expect_text" <<<"$err"
done <<TABLE
no board|1|no board on $work/ttyUSB9|--port $work/ttyUSB9 $work/box.hex
no file|1|no such file '$work/none.hex'|--port $work/ttyACM0 $work/none.hex
unknown board|2|unknown board 'mega'|--board mega $work/box.hex
unknown option|2|unknown option '--fast'|--fast
TABLE
check "avrdude not run for a refusal" test ! -e "$work/args"
check "help" bash -c '"$1" --help | grep -q "^Flashes the light box"' _ "$script"
exit $fail
