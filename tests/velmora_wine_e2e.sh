#!/usr/bin/env bash
# velmora.exe end to end under Wine: a fresh Wine prefix, a virtual display
# and a PulseAudio null sink at 32000 Hz u8 mono whose monitor parecord
# captures (at that format nothing is resampled: the bytes captured are the
# bytes waveOut played). The window's pixels are checked after start-up;
# Enter starts the night and the captured audio must carry the programme's
# first pulses exactly as velmora-render writes them; Escape ends the program
# with status 0; so does Alt+F4. Without a sound device the window still
# runs and says so once. Light mode: without giveio.sys the port-access
# set-up ends in the "ERROR" box; a key closes it and the status is 0. The
# light box: with VELMORA_LIGHTS=COM1 and the prefix's COM1 a pty of the
# test's own, the bytes velmora.exe sends arrive on the pty's far side; a
# port that does not exist ends in the ERROR box and status 0. The
# computer is held awake while velmora runs and let go as it ends. A sound
# server that starts after velmora is found and played through. At 192 dots
# per inch the window is drawn twice the size, pixel for pixel.
#   velmora_wine_e2e.sh WINE_LOADER VELMORA_EXE VELMORA_RENDER
set -u
source "$(dirname "$0")/e2e_lib.sh"
wine=$1
exe=$(realpath "$2")
render=$(realpath "$3")
for tool in Xvfb xdotool convert python3 pulseaudio parecord pactl "$wine"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -x "$render" ] || { echo "FAIL: no velmora-render at $render (build the default preset first)"; exit 1; }
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export XDG_RUNTIME_DIR=$work/run PULSE_RUNTIME_PATH=$work/run/pulse
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  "$(dirname "$wine")/wineserver" -k 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  pulseaudio --kill 2>/dev/null
  if [ -n "${VELMORA_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

xvfb_up

pulse_up() {
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --system=false \
    --load="module-native-protocol-unix" \
    --load="module-null-sink sink_name=velmora rate=32000 format=u8 channels=1" 2>"$work/pulse.err" ||
    { echo "FAIL: pulseaudio does not start: $(cat "$work/pulse.err")"; exit 1; }
  pactl set-default-sink velmora
}
pulse_up

echo "making a fresh Wine prefix..."
"$wine" wineboot --init >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1

parecord --raw --format=u8 --rate=32000 --channels=1 -d velmora.monitor "$work/played.raw" &
pids+=($!)

words=(m1 r2 +0)
# Now and then Wine's PulseAudio driver finds no device in a fresh prefix
# ("no sound device (wave output error 2)"), and a process never sees one
# appear later: that run is ended and velmora started again, at most twice.
for attempt in 1 2 3; do
  "$wine" "$exe" "${words[@]}" 2>"$work/stderr" &
  velmora_pid=$!
  wid=$(wait_window 'VelmoraSystem 132')
  grep -q 'no sound device' "$work/stderr" || break
  [ "$attempt" -lt 3 ] || break
  echo "note: Wine found no sound device (try $attempt); starting velmora.exe again"
  wine_end "$wid" "$velmora_pid" Escape >/dev/null
  "$(dirname "$wine")/wineserver" -w
done
check "window appears" test -n "$wid"
[ -n "$wid" ] || { cat "$work/stderr"; exit 1; }
sleep 2
import -window "$wid" "$work/shot.png" 2>/dev/null
# Pixels of each colour, wherever the window manager put the client area.
count() { convert "$work/shot.png" -fill black +opaque "rgb($1)" -fill white -opaque "rgb($1)" \
  -format "%[fx:int(w*h*mean)]" info:; }
check "status boxes in grey 16 ($(count 66,66,66) px)" test "$(count 66,66,66)" -gt 15000
check "chart band in yellow 16 ($(count 160,160,95) px)" test "$(count 160,160,95)" -gt 2000
check "background and help area in grey 63 ($(count 254,254,254) px)" \
  test "$(count 254,254,254)" -gt 10000

"$render" --quiet --format raw --out - -- "${words[@]}" 2>/dev/null | head -c 400000 >"$work/render.raw"
# With no window manager, a click is what gives a Wine window the keyboard
# (a click only marks the bitmap for copying).
xdotool mousemove --window "$wid" 144 200 click 1
sleep 0.5
xdotool key Return
for second in $(seq 75); do
  sleep 1
  find_pulses >/dev/null && break
  if [ "$second" -eq 30 ]; then
    # The programme starts within about 16 s of Enter (at the next healing
    # step, where the ring is). Now and then, under Wine without a window
    # manager, it is not heard by then: the first key after the click was
    # lost, or (not understood yet; seen on loaded CI runs only) the
    # programme's first pulses did not reach the capture. A second Enter
    # could stop a programme already under way, so velmora.exe is ended and
    # started afresh, and the capture goes on.
    echo "note: no programme 30 s after Enter; starting velmora.exe again"
    wine_end "$wid" "$velmora_pid" Escape >/dev/null
    "$wine" "$exe" "${words[@]}" 2>>"$work/stderr" &
    velmora_pid=$!
    wid=$(wait_window 'VelmoraSystem 132')
    sleep 2
    xdotool mousemove --window "$wid" 144 200 click 1
    sleep 0.5
    xdotool key Return
  fi
done
check "captured audio carries the programme's first pulses" find_pulses
xdotool key Escape
wait_end "$velmora_pid" Escape; status=$?
check "Escape: status 0" test "$status" -eq 0

# Alt+F4 goes through the default procedure to the close command: the
# close path, status 0. Wine's warning channel shows the execution-state
# calls: the computer held awake (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) from
# the start and let go (ES_CONTINUOUS alone) at the end.
WINEDEBUG=warn+ntdll "$wine" "$exe" m1 2>"$work/altf4.err" &
altf4_pid=$!
altf4_wid=$(wait_window 'VelmoraSystem 132')
check "Alt+F4: the window comes" test -n "$altf4_wid"
wine_end "$altf4_wid" "$altf4_pid" alt+F4; status=$?
check "Alt+F4: status 0" test "$status" -eq 0
states=$(grep -o 'NtSetThreadExecutionState (0x[0-9a-f]*' "$work/altf4.err" | cut -d'(' -f2 | tr '\n' ' ')
check "Alt+F4: held awake from the start, let go at the end ($states)" \
  test "$states" = "0x80000001 0x80000000 "

# No sound device (Wine's audio turned off): said once, the window still
# comes, the night runs on the window's tick (the cursor blinks, which it
# does only on a tick), and Escape still ends the program with status 0.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
"$wine" "$exe" m1 2>"$work/silent.err" &
silent_pid=$!
silent_wid=$(wait_window 'VelmoraSystem 132')
check "no sound device: the window comes" test -n "$silent_wid"
if [ -n "$silent_wid" ]; then
  sleep 2
  for shot in 1 2 3 4 5 6; do
    import -window "$silent_wid" -crop 4x80+6+104 +repage "$work/cursor$shot.png" 2>/dev/null
    sleep 0.5
  done
  check "no sound device: the cursor blinks" test "$(md5sum "$work"/cursor*.png | cut -d' ' -f1 | sort -u | wc -l)" -ge 2
fi
wine_end "$silent_wid" "$silent_pid" Escape; status=$?
check "no sound device: status 0" test "$status" -eq 0
check "no sound device: said once" test "$(grep -c 'velmora: no sound device' "$work/silent.err")" -eq 1

# A sound server that comes after velmora: no device at the start (Wine's
# PulseAudio driver finds no server), then the server starts, and the reopen
# once a second finds the device: "the sound is back", and healing plays.
pulseaudio --kill 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 || break; sleep 0.1; done
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
"$wine" "$exe" m1 2>"$work/late.err" &
late_pid=$!
late_wid=$(wait_window 'VelmoraSystem 132')
check "late server: the window comes" test -n "$late_wid"
for _ in $(seq 100); do grep -q 'velmora: no sound device' "$work/late.err" && break; sleep 0.1; done
check "late server: no sound device at the start" grep -q 'velmora: no sound device' "$work/late.err"
pulse_up
parecord --raw --format=u8 --rate=32000 --channels=1 -d velmora.monitor "$work/late.raw" &
late_rec=$!
for _ in $(seq 100); do grep -q 'velmora: the sound is back' "$work/late.err" && break; sleep 0.1; done
check "late server: the sound is back" grep -q 'velmora: the sound is back' "$work/late.err"
# Healing's pulses in the capture (bytes away from the silence of 128).
loud() { od -An -v -tu1 "$work/late.raw" 2>/dev/null | tr -s ' ' '\n' | awk '$1 != "" && ($1 < 120 || $1 > 136)' | wc -l; }
for _ in $(seq 100); do [ "$(loud)" -gt 1000 ] && break; sleep 0.1; done
check "late server: healing plays ($(loud) loud samples)" test "$(loud)" -gt 1000
kill "$late_rec" 2>/dev/null; wait "$late_rec" 2>/dev/null
wine_end "$late_wid" "$late_pid" Escape; status=$?
check "late server: Escape, status 0" test "$status" -eq 0

# close_error_box NAME PID: checks that velmora.exe (PID) shows the "ERROR"
# box, closes it with Return, and returns the program's exit status.
close_error_box() {
  local box
  box=$(wait_window ERROR)
  check "$1: the ERROR box" test -n "$box"
  if [ -n "$box" ]; then
    sleep 1
    xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key Return
  fi
  wait_end "$2" "the box"
}

# Light mode: no giveio.sys in the current directory, no driver.
(cd "$work" && exec "$wine" "$exe" '!') 2>"$work/light.err" &
light_pid=$!
close_error_box "light mode" "$light_pid"; status=$?
check "light mode: status 0" test "$status" -eq 0
check "light mode: the box's text" grep -q "ERROR: Can't use LPT port. This is take a GIVEIO.SYS file." \
  "$work/light.err"
# The light box on COM1: the prefix's com1 is the slave side of a pty whose
# master side a reader copies into a file.
python3 - "$work/box" <<'PY' &
import os, pty, signal, sys, tty
master, slave = pty.openpty()
tty.setraw(slave)
with open(sys.argv[1] + ".device", "w") as f:
    f.write(os.ttyname(slave))
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
with open(sys.argv[1] + ".bytes", "wb", buffering=0) as out:
    while True:
        out.write(os.read(master, 65536))
PY
box_reader=$!
pids+=("$box_reader")
for _ in $(seq 50); do [ -s "$work/box.device" ] && break; sleep 0.1; done
ln -sfn "$(cat "$work/box.device")" "$WINEPREFIX/dosdevices/com1"
VELMORA_LIGHTS=COM1 "$wine" "$exe" m1 '!3' . 2>"$work/com1.err" &
com1_pid=$!
com1_wid=$(wait_window 'VelmoraSystem 132')
check "COM1: the window comes" test -n "$com1_wid"
# The rate over the last 6 of the 8 s, for the record (the check below is
# looser: a shared machine's pace is not the test's business).
sleep 2
from=$(stat -c %s "$work/box.bytes")
sleep 6
echo "COM1: $(( ($(stat -c %s "$work/box.bytes") - from) / 6 )) bytes/s over 6 s"
wine_end "$com1_wid" "$com1_pid" Escape; status=$?
kill "$box_reader" 2>/dev/null; wait "$box_reader" 2>/dev/null
check "COM1: Escape, status 0 ($status)" test "$status" -eq 0
bytes=$(stat -c %s "$work/box.bytes" 2>/dev/null || echo 0)
# Eight seconds and more of the light thread at 1 Mbaud is over 800,000 bytes;
# a byte a WriteFile call gave Wine's serial line 23-64 kB/s.
check "COM1: the bytes arrive at the line's pace ($bytes in 8 s and more)" test "$bytes" -gt 600000
check "COM1: the first byte is the start-up's 255" test "$(head -c 1 "$work/box.bytes" | od -An -tu1 | tr -d ' ')" = 255
check "COM1: every byte is 0 or 255" test -z "$(od -An -v -tu1 "$work/box.bytes" | tr -s ' ' '\n' | grep -vxE '0|255|')"

# A port that is not there: the box, and status 0.
(VELMORA_LIGHTS=COM9 exec "$wine" "$exe" '!3') 2>"$work/com9.err" &
com9_pid=$!
close_error_box COM9 "$com9_pid"; status=$?
check "COM9: status 0" test "$status" -eq 0
check "COM9: the box names the port" grep -q "ERROR: Can't use the light box on COM9." "$work/com9.err"

# A display of 192 dots per inch (the prefix's LogPixels; Wine reads it as a
# process starts): the window is twice the size, each pixel a 2 x 2 square,
# and the squares are the 96-dpi picture of the chart (which stands still
# while healing plays; left of it the labels, whose face the font mapper may
# choose otherwise at another density, and the cursor, which blinks).
# VELMORA_SCALE=1 keeps the picture at its own size.
"$(dirname "$wine")/wineserver" -k 2>/dev/null
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
convert "$work/shot.png" -crop 200x90+60+100 +repage "$work/chart1.png"
for scale in "" 1; do
  (VELMORA_SCALE=$scale exec "$wine" "$exe" "${words[@]}") 2>"$work/dpi$scale.err" &
  dpi_pid=$!
  dpi_wid=$(wait_window 'VelmoraSystem 132')
  check "192 dpi, VELMORA_SCALE='$scale': the window comes" test -n "$dpi_wid"
  if [ -n "$dpi_wid" ]; then
    sleep 2
    import -window "$dpi_wid" "$work/dpi$scale.png" 2>/dev/null
    width=$(identify -format %w "$work/dpi$scale.png")
    if [ -z "$scale" ]; then
      check "192 dpi: the window twice as wide ($width px)" test "$width" -gt 540
      size=$(identify -format %wx%h "$work/dpi.png")
      convert "$work/dpi.png" -crop "${size}+0+0" +repage -sample 50% -sample 200% "$work/dpi-squares.png"
      check "192 dpi: each pixel is a 2 x 2 square" \
        test "$(compare -metric AE "$work/dpi.png" "$work/dpi-squares.png" null: 2>&1)" = 0
      convert "$work/dpi.png" -sample 50% -crop 200x90+60+100 +repage "$work/chart2.png"
    else
      check "192 dpi, VELMORA_SCALE=1: the window at its own size ($width px)" test "$width" -lt 300
      convert "$work/dpi1.png" -crop 200x90+60+100 +repage "$work/chart2.png"
    fi
    check "192 dpi, VELMORA_SCALE='$scale': the chart is the 96-dpi one" \
      test "$(compare -metric AE "$work/chart1.png" "$work/chart2.png" null: 2>&1)" = 0
  fi
  wine_end "$dpi_wid" "$dpi_pid" Escape
done

[ "$fail" -eq 0 ] || { echo "--- velmora.exe said:"; cat "$work"/*.err "$work/stderr"; }
exit $fail
