#!/usr/bin/env bash
# CPU use and peak memory of velmora playing: SECONDS (default 60) on a
# virtual display with SDL's disk audio driver (paced in real time), healing
# for the first half, the night programme for the second. Not a test: the
# figures go into the README.
#   bench/velmora_cpu.sh [build/default/velmora] [SECONDS]
set -euo pipefail
velmora=${1:-build/default/velmora}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -noreset -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
python3 - "$velmora" "$seconds" "$work/played.raw" <<'PY'
import os, resource, subprocess, sys, time
velmora, seconds, played = sys.argv[1], float(sys.argv[2]), sys.argv[3]
env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=played)
proc = subprocess.Popen([velmora, "m1"], env=env, stderr=subprocess.DEVNULL)
def key(name):
    wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^VelmoraSystem 132$"],
                         capture_output=True, text=True).stdout.split()
    if wid:
        subprocess.run(["xdotool", "windowfocus", "--sync", wid[0]])
        subprocess.run(["xdotool", "key", name])
time.sleep(seconds / 2)
key("Return")
time.sleep(seconds / 2)
key("Escape")
proc.wait(timeout=10)
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = usage.ru_utime + usage.ru_stime
print(f"velmora for {seconds:.0f} s: cpu {cpu:.2f} s ({100 * cpu / seconds:.2f} % of one core), "
      f"peak memory {usage.ru_maxrss / 1024:.1f} MB, played {os.path.getsize(played)} bytes")
PY
