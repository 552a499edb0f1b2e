# Shared by the end-to-end scripts (sourced): named checks that count
# failures, waiting for a window, and finding the programme's pulses.
# Expects $work (a scratch directory) to be set before find_pulses is used.
e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fail=0

check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAIL: $name"; fail=1; fi
}

# Starts a virtual display of its own and exports DISPLAY; its pid goes to
# the array `pids`. -noreset: a server that resets when its last client
# leaves refuses whoever connects meanwhile.
xvfb_up() {
  Xvfb -displayfd 3 -noreset -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")"
}

# wait_end PID WHAT: returns the exit status of the program PID once it
# ends, ending it (and saying so) if it still runs 10 s after WHAT.
wait_end() {
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then echo "velmora still runs after $2"; kill "$1"; fi
  wait "$1"
}

# wine_end WID PID KEY: gives velmora.exe's window WID (none: nothing is
# pressed) the keyboard, which with no window manager a click does, presses
# KEY, and returns the program's exit status (see wait_end).
wine_end() {
  if [ -n "$1" ]; then
    xdotool mousemove --window "$1" 144 200 click 1
    sleep 0.5
    xdotool key "$3"
  fi
  wait_end "$2" "$3"
}

# Prints the id of the visible window titled $1, waiting up to $2 tenths of a
# second (30 s unless given).
wait_window() {
  local wid=""
  for _ in $(seq "${2:-300}"); do
    wid=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  echo "$wid"
}

# Prints the id of the message box named $1 (SDL's X11 box sets only its
# name, which xdotool's search does not find), waiting up to 10 s.
wait_box() {
  local wid=""
  for _ in $(seq 100); do
    wid=$(xwininfo -root -tree 2>/dev/null | awk -v name="\"$1\":" '$2 == name {print $1; exit}')
    [ -n "$wid" ] && break
    sleep 0.1
  done
  echo "$wid"
}

# The render's first pulses (render.raw) in what the device played (played.raw).
find_pulses() {
  python3 "$e2e_here/find_pulses.py" "$work/render.raw" "$work/played.raw"
}
