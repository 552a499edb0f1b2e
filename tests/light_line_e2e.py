#!/usr/bin/env python3
"""velmora's light mode on a serial line, end to end.

  light_line_e2e.py VELMORA VELMORA-RENDER [LIGHTBOX_SIM FIRMWARE.elf]

Under a virtual display of its own, velmora runs in light mode with
VELMORA_LIGHTS naming the slave side of a pty, and the test reads the master
side as the light box would: the first byte is the start-up's 255; with a
level ("!3 .") every byte is 0 or 255, every run of 64 is lit then dark, and
the pulses (a dark run, then a lit one) come at the spacing of the night's
lights file; without one ("!-1 .") there is one 255-then-0 pair per pulse at
that spacing. Escape ends with 0, and the box's last byte is the dark one. A
box pulled out (the pty's far side closed) costs no more of a core than a
present one; a box that stops taking bytes is said to be gone and velmora's
memory stays put. A device that is not there gives the message on stderr
and status 0, and a SIGTERM while its box is up ends velmora at once. Given the light box's simulator and
firmware, both streams then go into the simulated chip, whose eight pins
must show every byte. Exit 77 when Xvfb or xdotool is missing.
"""
import os
import pty
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

from x_session import Session, box_up, escape, find_window, wait_for, window_up

WORDS = ["m1"]
AT = "2026-12-09T22:00:00Z"
PLAY_S = 9.0  # the programme's pulses start about 5.5 s in


class Box:
    """The far side of the line: reads what velmora sends, with the time each
    piece arrived, at most `rate` bytes a second (None: as fast as it comes)."""

    def __init__(self, rate=None):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)
        self.rate = rate
        self.held = False  # a box that takes no byte (nobody reads)
        self.pieces = []  # (seconds since `started`, bytes)
        self.started = time.monotonic()
        self.stop = False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        start = self.started
        taken = 0
        while not self.stop:
            if self.held:
                time.sleep(0.01)
                continue
            if self.rate:
                allowed = int((time.monotonic() - start) * self.rate) - taken
                if allowed <= 0:
                    time.sleep(0.002)
                    continue
            else:
                allowed = 65536
            try:
                data = os.read(self.master, min(allowed, 65536))
            except OSError:
                break
            if not data:
                break
            taken += len(data)
            self.pieces.append((time.monotonic() - start, data))

    def bytes(self):
        return b"".join(d for _, d in self.pieces)

    def times(self):
        """The arrival time of every byte."""
        out = []
        for t, d in self.pieces:
            out.extend([t] * len(d))
        return out

    def pull(self):
        """The box pulled out: the far side of the pty goes."""
        self.stop = True
        self.thread.join(5)
        os.close(self.master)
        self.master = None

    def close(self):
        self.stop = True
        os.close(self.slave)
        self.thread.join(5)
        if self.master is not None:
            os.close(self.master)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_share(pid, seconds):
    start, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - start) / (time.monotonic() - t0)


def pulse_spacing(render, words):
    """The median spacing (ms) of the pulses in the first 20 s of the lights
    file: where the lights go from off (0) to on."""
    out = subprocess.run([render, "--quiet", "--at", AT, "--lights", "-", "--", *words],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    starts, previous = [], None
    for line in out[1:]:
        ms, _, level = line.split(",")
        lit = level not in ("0", "off")
        if lit and previous is False and int(ms) < 20000:
            starts.append(int(ms))
        previous = lit
    return statistics.median(b - a for a, b in zip(starts, starts[1:]))


def into_the_box(session, simulator, name, data, work):
    """Feeds a stream that came through the pty into the simulated box."""
    if not simulator:
        return
    path = os.path.join(work, "stream.bin")
    with open(path, "wb") as f:
        f.write(data)
    r = subprocess.run([*simulator, path], capture_output=True, text=True)
    last = r.stdout.splitlines()[-1].split() if r.stdout.strip() else []
    counts = dict(zip(last[0::2], last[1::2])) if len(last) == 6 else {}
    lit = sum(1 for b in data if b != 0)
    session.check(f"{name}: the simulated box's pins show every byte",
                  r.returncode == 0 and counts.get("matched") == str(len(data)) and
                  counts.get("lit") == str(lit), r.stdout + r.stderr)


def play(session, velmora, display, words, box, seconds=PLAY_S, during=None):
    env = dict(os.environ, DISPLAY=display, VELMORA_LIGHTS=box.device, SDL_AUDIODRIVER="dummy")
    p = session.start([velmora, *words], env=env, stderr=subprocess.PIPE, text=True)
    wid = window_up(display)
    session.check(f"{' '.join(words)}: the window comes", bool(wid))
    if during:
        during(p)
    else:
        time.sleep(seconds)
    status, err = escape(display, wid, p) if wid else (None, "")
    session.check(f"{' '.join(words)}: Escape ends with 0", status == 0, f"{status} {err}")
    return err


def main():
    velmora, render = sys.argv[1], sys.argv[2]
    simulator = sys.argv[3:5]
    if not simulator:
        print("note: no light box simulator given (avr-gcc, libsimavr); the pins are not checked")
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed")
            return 77
    session = Session()
    work = tempfile.mkdtemp(prefix="velmora-lights-")
    try:
        display = session.xvfb()

        # With a level: the light thread's modulation, paced by the line.
        words = WORDS + ["!3", "."]
        box = Box(rate=100_000)
        play(session, velmora, display, words, box)
        box.close()
        data, times = box.bytes(), box.times()
        session.check("!3: bytes arrive", len(data) > 100_000, len(data))
        session.check("!3: the first byte is 255", data[:1] == b"\xff", data[:4])
        session.check("!3: every byte is 0 or 255", set(data) <= {0, 255}, set(data))
        runs = [data[i:i + 64] for i in range(1, len(data) - 63, 64)]
        lit = [r.count(255) for r in runs]
        shaped = sum(1 for r, n in zip(runs, lit) if r == b"\xff" * n + b"\x00" * (64 - n))
        session.check("!3: runs of 64 are lit, then dark", shaped >= 0.98 * len(runs),
                      f"{shaped} of {len(runs)}")
        session.check("!3: the lit share follows the pulses: dark runs and lit runs",
                      lit.count(0) > 100 and sum(1 for n in lit if n > 0) > 100)
        onsets = [times[1 + 64 * i] for i in range(1, len(lit)) if lit[i - 1] == 0 and lit[i] > 0]
        spacing = pulse_spacing(render, words[:-1])
        seen = statistics.median(b - a for a, b in zip(onsets, onsets[1:])) * 1000 if len(
            onsets) > 5 else 0
        session.check(f"!3: pulses at the night's spacing ({spacing} ms)",
                      abs(seen - spacing) <= 0.15 * spacing, f"{seen:.1f} ms over {len(onsets)}")
        session.check("!3: the last byte is the dark one", data[-1:] == b"\x00", data[-4:])
        into_the_box(session, simulator, "!3", data, work)

        # The box pulled out, then one that stops taking bytes: a core's
        # share and the memory, against the same run while the box is there.
        figures = {}

        def pulled(p):
            time.sleep(2)
            figures["there"] = cpu_share(p.pid, 3)
            box.pull()
            time.sleep(0.5)
            figures["pulled"] = cpu_share(p.pid, 5)

        box = Box()
        err = play(session, velmora, display, words, box, during=pulled)
        box.close()
        print(f"a core's share: {figures['there']:.3f} with the box, "
              f"{figures['pulled']:.3f} pulled out")
        session.check("pulled: said once to be gone", err.count("is gone") == 1, err)
        session.check("pulled: no more of a core than with the box (+5 %)",
                      figures["pulled"] <= figures["there"] + 0.05, figures)

        def stuck(p):
            time.sleep(2)
            box.held = True
            before = rss_kib(p.pid)
            time.sleep(8)
            figures["grown"] = rss_kib(p.pid) - before

        box = Box()
        err = play(session, velmora, display, words, box, during=stuck)
        box.close()
        print(f"memory grown while the box took nothing for 8 s: {figures['grown']} KiB")
        session.check("stuck: said once to be gone", err.count("is gone") == 1 and
                      "the line took" in err, err)
        session.check("stuck: the memory stays put (within 512 KiB)", figures["grown"] < 512,
                      figures["grown"])

        # Without a level: the generator's own pulses, a pair per pulse.
        words = WORDS + ["!-1", "."]
        box = Box()
        play(session, velmora, display, words, box)
        box.close()
        data, times = box.bytes(), box.times()
        # The port's values in turn, each held by the host's repeats while it
        # is quiet (once a second), as a port holds its value.
        changes = [i for i in range(len(data)) if i == 0 or data[i] != data[i - 1]]
        collapsed = bytes(data[i] for i in changes)
        pairs = (len(collapsed) - 1) // 2
        session.check("!-1: the first byte is 255", data[:1] == b"\xff", data[:4])
        session.check("!-1: 255 and 0 in turn, nothing else",
                      collapsed == (b"\xff\x00" * len(collapsed))[:len(collapsed)],
                      collapsed[-16:])
        quiet = max((b - a for a, b in zip(times, times[1:])), default=0)
        session.check(f"!-1: never quiet for more than 1.2 s ({quiet:.2f} s)", quiet <= 1.2)
        session.check("!-1: pulses came", pairs > 30, pairs)
        ons = [times[i] for i in changes[1::2]]
        spacing = pulse_spacing(render, words[:-1])
        seen = statistics.median(b - a for a, b in zip(ons[1:], ons[2:])) * 1000 if pairs > 5 else 0
        session.check(f"!-1: pulses at the night's spacing ({spacing} ms)",
                      abs(seen - spacing) <= 0.15 * spacing, f"{seen:.1f} ms")
        into_the_box(session, simulator, "!-1", data, work)

        # No such device: the message, and status 0.
        missing = os.path.join(work, "ttyACM9")
        env = dict(os.environ, DISPLAY=display, VELMORA_LIGHTS=missing, SDL_AUDIODRIVER="dummy")
        p = session.start([velmora, "!3"], env=env, stderr=subprocess.PIPE, text=True)
        box_id = ""
        if not wait_for(lambda: p.poll() is not None, 3):
            box_id = box_up(display, "ERROR")
            if box_id:
                subprocess.run(["xdotool", "windowfocus", "--sync", box_id, "key", "Return"],
                               env=dict(os.environ, DISPLAY=display), capture_output=True)
        try:
            status = p.wait(10)
        except subprocess.TimeoutExpired:
            status = None
        err = p.stderr.read()
        session.check("missing box: status 0", status == 0, status)
        session.check("missing box: says the device and why",
                      f"Can't use the light box on {missing}." in err and
                      "No such file or directory" in err, err)
        session.check("missing box: no window left", find_window(display) == "")

        # SIGTERM while the ERROR box is up: velmora ends within a second. Its
        # long text (a long path) is broken into lines that fit a small screen.
        far = os.path.join(work, "a-folder-whose-name-is-long-enough-to-need-a-second-line",
                           "ttyACM9")
        env = dict(env, VELMORA_LIGHTS=far)
        p = session.start([velmora, "!3"], env=env, stderr=subprocess.PIPE, text=True)
        box_id = box_up(display, "ERROR")
        session.check("SIGTERM: the ERROR box is up", bool(box_id))
        info = subprocess.run(["xwininfo", "-id", box_id or "0"], capture_output=True, text=True,
                              env=dict(os.environ, DISPLAY=display)).stdout
        width = next((int(line.split()[1]) for line in info.splitlines()
                      if line.strip().startswith("Width:")), 0)
        session.check(f"the box fits a 640-pixel screen ({width} px)", 0 < width <= 600, info)
        p.terminate()
        ended = wait_for(lambda: p.poll() is not None, 1.0)
        session.check("SIGTERM with the box up: ended within a second, status 0",
                      ended and p.returncode == 0, p.poll())
    finally:
        session.stop_all()
        shutil.rmtree(work, ignore_errors=True)
    return session.exit_code()


if __name__ == "__main__":
    sys.exit(main())
