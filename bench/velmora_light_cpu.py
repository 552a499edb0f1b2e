#!/usr/bin/env python3
"""CPU use of velmora in light mode over the light box's line: SECONDS
(default 60) of "m1 !3 ." under a virtual display, VELMORA_LIGHTS naming a
pty whose far side is drained at 100,000 bytes a second, as a box at 1 Mbaud
takes them, and the write calls a second (/proc/PID/io's syscw). Not a
test: the figure goes into the README. The parallel-port
route's loop, for comparison, is bench/light_route_cpu's.

  bench/velmora_light_cpu.py [build/default/velmora] [SECONDS]
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from light_line_e2e import Box  # noqa: E402
from x_session import Session, press, window_up  # noqa: E402

velmora = sys.argv[1] if len(sys.argv) > 1 else "build/default/velmora"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
session = Session()
try:
    display = session.xvfb()
    box = Box(rate=100_000)
    env = dict(os.environ, DISPLAY=display, VELMORA_LIGHTS=box.device, SDL_AUDIODRIVER="dummy")
    p = subprocess.Popen([velmora, "m1", "!3", "."], env=env, stderr=subprocess.DEVNULL)
    wid = window_up(display)
    if not wid:
        sys.exit("velmora_light_cpu: no window")
    time.sleep(seconds)
    # Write calls of the whole process (the line's, and a few of the window's).
    with open(f"/proc/{p.pid}/io") as f:
        calls = next(int(line.split()[1]) for line in f if line.startswith("syscw:"))
    press(display, wid, "Escape")
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    box.close()
finally:
    session.stop_all()
cpu = usage.ru_utime + usage.ru_stime
print(f"velmora '!3 .' over the line for {seconds:.0f} s: cpu {cpu:.2f} s "
      f"({100 * cpu / seconds:.1f} % of one core), peak memory {usage.ru_maxrss / 1024:.1f} MB, "
      f"{len(box.bytes()) / seconds:.0f} bytes/s taken by the box, "
      f"{calls / seconds:.0f} write calls/s, exit {p.returncode}")
