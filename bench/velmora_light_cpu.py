#!/usr/bin/env python3
"""CPU use of velmora in light mode over the light box's line: "m1 !3 ."
under a virtual display, VELMORA_LIGHTS naming a pty whose far side is
drained at 100,000 bytes a second, as a box at 1 Mbaud takes them. Measured
over SECONDS from a second after the window is up (start-up not counted):
the whole process's CPU, the bytes the box took, and the write calls a
second (/proc/PID/io's syscw: the line's, and a few of the window's).

Each round runs every VELMORA given (say an older build against this one),
then the floor: the first VELMORA playing "m1 ." to SDL's dummy sound driver,
the same window and night without the line. Prints the medians of the
alternating rounds and each one's ratio against the floor. Not a test: the
figures go into the README. The light thread alone is bench/light_route_cpu's.

  bench/velmora_light_cpu.py [--seconds 60] [--rounds 3] [VELMORA...]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from light_line_e2e import Box  # noqa: E402
from x_session import Session, press, window_up  # noqa: E402


def peak_mb(pid):
    """The process's peak resident memory (wait4's figure would be the
    forking Python's, taken before the exec)."""
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")) / 1024


def usage_now(pid):
    """CPU seconds of the whole process so far, and its write calls."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    with open(f"/proc/{pid}/io") as f:
        calls = next(int(line.split()[1]) for line in f if line.startswith("syscw:"))
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"), calls


def run(session, velmora, seconds, line):
    """One run: (share of a core, bytes a second taken, write calls a
    second, peak memory in MB)."""
    display = session.xvfb()
    box = Box(rate=100_000) if line else None
    env = dict(os.environ, DISPLAY=display, SDL_AUDIODRIVER="dummy")
    if box:
        env["VELMORA_LIGHTS"] = box.device
    words = ["m1", "!3", "."] if line else ["m1", "."]
    p = subprocess.Popen([velmora] + words, env=env, stderr=subprocess.DEVNULL)
    try:
        wid = window_up(display)
        if not wid:
            sys.exit(f"velmora_light_cpu: no window from {velmora}")
        time.sleep(1)
        before, t0 = usage_now(p.pid), time.monotonic()
        time.sleep(seconds)
        after, t1 = usage_now(p.pid), time.monotonic()
        peak = peak_mb(p.pid)
        press(display, wid, "Escape")
        p.wait(10)
    finally:
        if p.returncode is None:
            p.kill()
            p.wait()
        if box:
            box.close()
        session.stop_all()
    taken = 0
    if box:
        since = t0 - box.started, t1 - box.started
        taken = sum(len(d) for t, d in box.pieces if since[0] <= t < since[1])
    return ((after[0] - before[0]) / seconds, taken / seconds, (after[1] - before[1]) / seconds,
            peak)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("velmora", nargs="*", default=["build/default/velmora"])
    args = parser.parse_args()
    results = {v: [] for v in args.velmora}
    floor = []
    session = Session()
    for r in range(args.rounds):
        for v in args.velmora:
            results[v].append(run(session, v, args.seconds, line=True))
            print(f"round {r + 1}: {v}: {100 * results[v][-1][0]:.2f} %", file=sys.stderr)
        floor.append(run(session, args.velmora[0], args.seconds, line=False))
        print(f"round {r + 1}: floor: {100 * floor[-1][0]:.2f} %", file=sys.stderr)
    base = statistics.median(f[0] for f in floor)
    print(f"medians of {args.rounds} alternating rounds of {args.seconds:.0f} s:")
    print(f"  floor, '{args.velmora[0]} m1 .' to the dummy sound driver: "
          f"{100 * base:.2f} % of one core")
    for v, runs in results.items():
        cpu = statistics.median(x[0] for x in runs)
        print(f"  '{v} m1 !3 .' over the line: {100 * cpu:.2f} % of one core "
              f"({cpu / base:.1f}x the floor, {100 * (cpu - base):.2f} points above it), "
              f"{statistics.median(x[1] for x in runs):.0f} bytes/s taken by the box, "
              f"{statistics.median(x[2] for x in runs):.0f} write calls/s, "
              f"peak memory {max(x[3] for x in runs):.1f} MB")


if __name__ == "__main__":
    main()
