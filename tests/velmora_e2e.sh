#!/usr/bin/env bash
# End to end on a virtual display: velmora starts with SDL's disk audio driver
# writing what it plays to a file; the window's size and some pixels are
# checked; Enter starts the night, and the audio must carry the programme's
# first pulses exactly as velmora-render writes them; Escape ends the program
# with status 0 at once. Without a display velmora says so and exits with 1.
set -u
source "$(dirname "$0")/e2e_lib.sh"
velmora=$1
render=$2
for tool in Xvfb xdotool xwininfo convert python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
xvfb_pid=""
velmora_pid=""
cleanup() {
  [ -n "$velmora_pid" ] && kill "$velmora_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# No display, or one that is not there: one line on stderr saying which,
# naming velmora-render, exit status 1, no hang.
for case in "|no display (DISPLAY is not set)" ":65001|cannot connect to the display ':65001'"; do
  display=${case%%|*}
  err=$(env -u DISPLAY -u WAYLAND_DISPLAY ${display:+DISPLAY=$display} SDL_VIDEODRIVER= \
        timeout 10 "$velmora" 2>&1 >/dev/null); status=$?
  check "${display:-no display}: status 1" test "$status" -eq 1
  check "${display:-no display}: one line naming the display and velmora-render" \
    bash -c '[ "$(wc -l <<<"$1")" -eq 1 ] && grep -qF "$2" <<<"$1" && grep -q "velmora-render" <<<"$1"' \
    _ "$err" "${case#*|}"
done

# A virtual display of its own.
Xvfb -displayfd 3 -noreset -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

words=(m1 r2 +0)
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw" "$velmora" "${words[@]}" 2>"$work/stderr" &
velmora_pid=$!
wid=$(wait_window 'VelmoraSystem 132' 100)
check "window appears" test -n "$wid"
[ -n "$wid" ] || exit 1
check "window is 288x272" bash -c \
  'xdotool getwindowgeometry "$1" | grep -q "Geometry: 288x272"' _ "$wid"
pixel_of() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }
pixel() { pixel_of "$work/shot.png" "$@"; }
# The window's picture once the chart's outline is drawn at (X, Y): a slow
# build on a loaded machine takes its time over the first paint.
shot_when_drawn() {  # WINDOW FILE X Y
  for _ in $(seq 100); do
    import -window "$1" "$2" 2>/dev/null
    [ "$(pixel_of "$2" "$3" "$4")" = "2,2,2" ] && return 0
    sleep 0.1
  done
  return 1
}
shot_when_drawn "$wid" "$work/shot.png" 8 150
check "background" test "$(pixel 2 2)" = "254,254,254"
check "status box fill" test "$(pixel 270 30)" = "66,66,66"
check "chart outline" test "$(pixel 8 150)" = "2,2,2"
check "help area" test "$(pixel 280 260)" = "254,254,254"

# The screen may go dark while velmora plays: with a screensaver after 3 s
# without input, it is on 5 s later.
if command -v xset >/dev/null && command -v xssstate >/dev/null; then
  xset s 3
  sleep 5
  check "screensaver starts while velmora plays" test "$(xssstate -s)" = "on"
  xset s off
else
  echo "note: xset or xssstate missing (x11-xserver-utils, suckless-tools); screensaver not checked"
fi

# The programme's first twenty pulses, as velmora-render writes them: after
# Enter they must turn up in what the device plays (waited for, up to 30 s).
"$render" --quiet --format raw --out - -- "${words[@]}" 2>/dev/null | head -c 400000 >"$work/render.raw"
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key Return
for _ in $(seq 30); do
  sleep 1
  find_pulses >/dev/null && break
done
xdotool key Escape
start=$(date +%s.%N)
wait "$velmora_pid"; status=$?
velmora_pid=""
elapsed=$(python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$start" "$(date +%s.%N)")
check "Escape: status 0" test "$status" -eq 0
check "Escape: ends within a second ($elapsed s)" python3 -c "import sys; sys.exit(float(sys.argv[1]) >= 1.0)" "$elapsed"

# No sound device: said once on stderr, the window still comes and Escape
# still ends the program with status 0.
SDL_AUDIODRIVER=none "$velmora" m1 2>"$work/silent.err" &
silent_pid=$!
silent_wid=$(wait_window 'VelmoraSystem 132' 100)
check "no sound device: the window comes" test -n "$silent_wid"
[ -n "$silent_wid" ] && xdotool windowfocus --sync "$silent_wid" key Escape
wait "$silent_pid"; status=$?
check "no sound device: status 0" test "$status" -eq 0
check "no sound device: said once" test "$(grep -c 'velmora: no sound' "$work/silent.err")" -eq 1

# VELMORA_SCALE=2: a window twice the size, each pixel a 2 x 2 square of the
# 1x picture's: the chart, which stands still while healing plays (the rows'
# figures follow the clock and the generator; the cursor's columns blink). A
# bad value: one line on stderr, and scale 1.
for scale in 2 x; do
  SDL_AUDIODRIVER=none VELMORA_SCALE=$scale "$velmora" "${words[@]}" 2>"$work/scale.err" &
  scale_pid=$!
  scale_wid=$(wait_window 'VelmoraSystem 132' 100)
  check "scale $scale: the window comes" test -n "$scale_wid"
  if [ "$scale" = 2 ]; then
    check "scale 2: the window is 576x544" bash -c \
      'xdotool getwindowgeometry "$1" | grep -q "Geometry: 576x544"' _ "$scale_wid"
    shot_when_drawn "$scale_wid" "$work/shot2.png" 16 300
    convert "$work/shot2.png" -sample 50% -crop 260x90+20+100 +repage "$work/half.png"
    convert "$work/shot.png" -crop 260x90+20+100 +repage "$work/one.png"
    # Every 2 x 2 square is one colour, the 1x picture's.
    convert "$work/shot2.png" -crop 536x544+40+0 +repage -sample 50% -sample 200% "$work/squares.png"
    convert "$work/shot2.png" -crop 536x544+40+0 +repage "$work/two.png"
    check "scale 2: each pixel is a square" test "$(compare -metric AE "$work/two.png" "$work/squares.png" null: 2>&1)" = 0
    check "scale 2: the squares are the 1x picture" test "$(compare -metric AE "$work/one.png" "$work/half.png" null: 2>&1)" = 0
  else
    check "scale x: the window is 288x272" bash -c \
      'xdotool getwindowgeometry "$1" | grep -q "Geometry: 288x272"' _ "$scale_wid"
    check "scale x: said once" test "$(grep -c "VELMORA_SCALE must be a whole number from 1 to 8, not 'x'" "$work/scale.err")" -eq 1
  fi
  [ -n "$scale_wid" ] && xdotool windowfocus --sync "$scale_wid" key Escape
  wait "$scale_pid"
done

# Light mode where no route to the port exists (no /dev/parport*, no
# privilege for direct output): the message on stderr, and status 0.
"$velmora" '!' 0278 2>"$work/light.err" &
light_pid=$!
for _ in $(seq 50); do kill -0 "$light_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$light_pid" 2>/dev/null; then  # a box is showing: close it
  box=$(wait_box ERROR)
  [ -n "$box" ] && xdotool windowfocus --sync "$box" key Return
fi
wait "$light_pid"; status=$?
check "light mode without a port: status 0" test "$status" -eq 0
check "light mode without a port: says which port" grep -q "Can't use LPT port 0278" "$work/light.err"

# A display that goes away: velmora says so and ends with status 1.
Xvfb -displayfd 4 -noreset -screen 0 320x240x24 -nolisten tcp 4>"$work/display2" 2>/dev/null &
xvfb2_pid=$!
for _ in $(seq 50); do [ -s "$work/display2" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display2")" SDL_AUDIODRIVER=none "$velmora" m1 2>"$work/gone.err" &
gone_pid=$!
DISPLAY=":$(cat "$work/display2")" wait_window 'VelmoraSystem 132' 100 >/dev/null
kill "$xvfb2_pid"
for _ in $(seq 30); do kill -0 "$gone_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$gone_pid" 2>/dev/null; then kill -9 "$gone_pid"; fi
wait "$gone_pid"; status=$?
check "display gone: status 1" test "$status" -eq 1
check "display gone: said so" grep -q "the display went away" "$work/gone.err"

check "played audio carries the programme's first pulses" find_pulses
exit $fail
