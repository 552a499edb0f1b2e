#!/usr/bin/env python3
"""The night through a real sound server that goes away and comes back.

  sound_faults_e2e.py VELMORA VELMORA-RENDER CASE

A PulseAudio server of the test's own (a null sink at 32000 Hz u8 mono,
private HOME and XDG_RUNTIME_DIR, `parecord` on its monitor) and velmora
under Xvfb with SDL's pulseaudio driver. CASE is one of:

  restart   the server killed after the programme's first pulses are heard
            and started again 20 s later
  restart-pipewire
            the same against PipeWire run headless, its pipewire-pulse
            killed and started again
  frozen    the server stopped (SIGSTOP) after the programme's first pulses
            are heard and continued (SIGCONT) 20 s later: it neither ends
            the night nor leaves it silent
  late      no server at start; one started 20 s after Enter
  stopped   velmora stopped (SIGSTOP) for 20 s during the programme, then
            continued: the load test raises the WARNING box, and while it is
            up the healing pattern is heard

In the first three the sound must come back by itself within 2 s of the
server, as velmora-render's programme at the position the clock says (not
where the sound stopped), with one line each way on stderr, and the window
must have gone on ticking while the sound was away. Exit 77 when a tool is
missing.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from x_session import Session, box_up, press, wait_for, window_up

RATE = 32000
AWAY_S = 20
PULSES = 20 * 1776  # the programme's first twenty pulses
WORDS = ["m1"]

VELMORA, RENDER, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
# "restart-pipewire": the restart against PipeWire's PulseAudio side. Its
# null sink mixes in floating point and filters, so there the programme is
# recognised by its pulses' times, not byte for byte.
PIPEWIRE = CASE.endswith("-pipewire")
CASE = CASE.removesuffix("-pipewire")
tools = ["pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon"] if PIPEWIRE else ["pulseaudio"]
for tool in ["Xvfb", "xdotool", "xwininfo", "import", "parecord", "pactl"] + tools:
    if shutil.which(tool) is None:
        print(f"SKIP: {tool} is not installed")
        sys.exit(77)

session = Session()
check = session.check
work = tempfile.mkdtemp(prefix="velmora-sound-")
env = dict(os.environ, HOME=os.path.join(work, "home"), XDG_RUNTIME_DIR=os.path.join(work, "run"),
           PULSE_CLIENTCONFIG=os.path.join(work, "client.conf"), SDL_AUDIODRIVER="pulseaudio")
env.pop("PULSE_SERVER", None)
os.makedirs(env["HOME"])
os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
with open(env["PULSE_CLIENTCONFIG"], "w") as f:
    f.write("autospawn = no\n")  # the server comes and goes as the test says
if PIPEWIRE:
    # PipeWire's session manager wants a session bus: one of the test's own.
    bus = session.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()


def answering():
    return subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0


pipewire_started = []


def pulse_up():
    if PIPEWIRE:
        # PipeWire itself and its session manager stay; its PulseAudio side
        # is what restarts, and the sink it made goes with it.
        if not pipewire_started:
            pipewire_started.append(session.start(["pipewire"], env=env, stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.DEVNULL))
            # The session manager wants PipeWire's socket there.
            socket = os.path.join(env["XDG_RUNTIME_DIR"], "pipewire-0")
            wait_for(lambda: os.path.exists(socket), 10)
            session.start(["wireplumber"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
        pulse = session.start(["pipewire-pulse"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        pipewire_started.append(pulse)
        if not wait_for(answering, 10):
            raise RuntimeError("the test's pipewire-pulse did not start")
        subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=velmora",
                        "rate=32000", "format=u8", "channels=1"], env=env, capture_output=True)
        subprocess.run(["pactl", "set-default-sink", "velmora"], env=env, capture_output=True)
        route_streams()
        return
    subprocess.run(["pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1",
                    "--load=module-native-protocol-unix",
                    "--load=module-null-sink sink_name=velmora rate=32000 format=u8 channels=1"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    if not wait_for(answering, 10):
        raise RuntimeError("the test's PulseAudio server did not start")


def route_streams():
    """PipeWire only: a stream that connected before the test's sink was
    there (velmora tries again within milliseconds), or that the session
    manager placed on another sink, is moved to the test's sink."""
    if not PIPEWIRE:
        return
    inputs = subprocess.run(["pactl", "list", "short", "sink-inputs"], env=env,
                            capture_output=True, text=True).stdout.split("\n")
    for line in inputs:
        if line.split():
            subprocess.run(["pactl", "move-sink-input", line.split()[0], "velmora"], env=env,
                           capture_output=True)


def server_pid():
    with open(os.path.join(env["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
        return int(f.read().split()[0])


def pulse_down():
    if PIPEWIRE:
        if len(pipewire_started) > 1:
            pipewire_started[-1].terminate()
            pipewire_started[-1].wait(5)
    else:
        subprocess.run(["pulseaudio", "-k"], env=env, capture_output=True)
    wait_for(lambda: not answering(), 10)


class Capture:
    """parecord on the sink's monitor into a file; `origin` estimates the
    wall time (time.monotonic) of the file's first sample."""

    def __init__(self, name):
        self.path = os.path.join(work, name)
        self.process = session.start(
            ["parecord", "--raw", "--format=u8", "--rate=32000", "--channels=1",
             "-d", "velmora.monitor", self.path], env=env, stderr=subprocess.DEVNULL)
        # PipeWire's side answers before its sink is there: wait for audio.
        if PIPEWIRE:
            wait_for(lambda: os.path.exists(self.path) and os.path.getsize(self.path) > 0, 5)
        self.origin = None

    def poll(self):
        """Reads what has arrived; samples arrive late, never early, so the
        earliest (time - samples / rate) seen is the best estimate."""
        now = time.monotonic()
        size = os.path.getsize(self.path) if os.path.exists(self.path) else 0
        if size > 0:
            estimate = now - size / RATE
            self.origin = estimate if self.origin is None else min(self.origin, estimate)
        return open(self.path, "rb").read() if size else b""

    def stop(self):
        self.process.terminate()
        self.process.wait(5)


def programme_start(render, played, origin):
    """The wall time of the render's first sample, from the render's first
    pulses found in `played`; None when they are not there."""
    first = next(i for i, b in enumerate(render) if b != 128) - 1
    at = played.find(render[first:first + PULSES])
    return None if at < 0 else origin + (at - first) / RATE


def programme_chunk(render, played, origin, after):
    """(wall time, render position) of the first piece of programme in
    `played` from sample `after` on, or None."""
    i = after
    while True:
        i = next((k for k in range(i, len(played)) if played[k] != 128), None)
        if i is None or i + 8000 > len(played):
            return None
        at = render.find(played[i - 1:i - 1 + 8000])
        if at >= 0:
            return origin + (i - 1) / RATE, at
        i += 8000


def onsets(data):
    """The sample numbers where pulses begin: a sample more than 20 from the
    zero level after at least 64 quiet ones."""
    out, last = [], -10 ** 9
    for run in re.finditer(rb"[^\x6c-\x94]+", data):
        if run.start() - last > 64:
            out.append(run.start())
        last = run.end()
    return out


def programme_by_pulses(render_onsets, played, origin, after):
    """(wall time, render position) of the first programme pulse captured
    from sample `after` on, found by the pulses' times among the render's: at
    the offset that lines up the most, at least 30 pulses within 4 samples of
    the render's, and nine in ten from the first of them to the last; or
    None."""
    heard = [k for k in onsets(played) if k >= after]
    if len(heard) < 30:
        return None
    present = set()
    for r in render_onsets:
        present.update(range(r - 4, r + 5))
    best = []
    for anchor in heard[-30::10]:
        for r in render_onsets:
            hits = [k for k in heard if k + r - anchor in present]
            if len(hits) > len(best):
                best, offset = hits, r - anchor
    if len(best) < 30:
        return None
    between = [k for k in heard if best[0] <= k <= best[-1]]
    if len(best) < 0.9 * len(between):
        return None
    return origin + best[0] / RATE, best[0] + offset


def said(path, text):
    return text in open(path).read()


def state_row(display, wid, name):
    path = os.path.join(work, name)
    subprocess.run(["import", "-window", wid, "-crop", "264x20+8+15", "+repage", path],
                   env=dict(os.environ, DISPLAY=display), capture_output=True)
    return open(path, "rb").read() if os.path.exists(path) else b""


try:
    display = session.xvfb()
    render = subprocess.run([RENDER, "--quiet", "--format", "raw", "--out", "-", "--"] + WORDS,
                            capture_output=True, check=True).stdout[:RATE * 600]
    render_onsets = onsets(render[:RATE * 180]) if PIPEWIRE else []
    if CASE != "late":
        pulse_up()
    before = Capture("before.raw") if CASE != "late" else None
    stderr_path = os.path.join(work, "stderr")
    # A process group of its own: SDL shows the warning box from a process it
    # forks, which the test ends with velmora.
    velmora = session.start([VELMORA] + WORDS, env=dict(env, DISPLAY=display),
                            stderr=open(stderr_path, "w"), start_new_session=True)
    wid = window_up(display)
    check("the window comes", bool(wid))
    if not wid:
        sys.exit(1)
    time.sleep(1)
    press(display, wid, "Return")
    entered = time.monotonic()

    if CASE in ("restart", "frozen", "stopped"):
        start_wall = None

        def heard():
            global start_wall
            played = before.poll()
            if PIPEWIRE:
                route_streams()
                found = programme_by_pulses(render_onsets, played, before.origin, 0)
                start_wall = None if found is None else found[0] - found[1] / RATE
            else:
                start_wall = programme_start(render, played, before.origin)
            return start_wall is not None
        # The programme starts up to 16 s after Enter (where the ring is);
        # a loaded machine's capture trails further.
        ok = wait_for(heard, 45)
        captured = before.poll()
        check("the programme's first pulses are heard", ok,
              f"{len(captured) / RATE:.1f} s captured, {sum(b != 128 for b in captured)} samples "
              f"not silent; sink inputs: " + subprocess.run(
                  ["pactl", "list", "short", "sink-inputs"], env=env, capture_output=True,
                  text=True).stdout.strip().replace("\n", "; "))
        if start_wall is None:
            print("velmora's stderr:\n" + open(stderr_path).read(), end="")
            sys.exit(1)
        print(f"  the programme started {start_wall - entered:.2f} s after Enter")

    if CASE == "stopped":
        velmora.send_signal(signal.SIGSTOP)
        time.sleep(AWAY_S)
        velmora.send_signal(signal.SIGCONT)
        check("the WARNING box is up", bool(box_up(display, "WARNING", 15)))
        shown = len(before.poll())
        # Past the blocks the device held when the box came, the window's side
        # must go on handing it the healing pattern: some hundreds of samples
        # of its pulses in the last four seconds captured.
        loud = [0]

        def healing_heard():
            under = before.poll()[shown + 3 * RATE:]
            loud[0] = sum(1 for b in under[-4 * RATE:] if b != 128)
            return len(under) >= 4 * RATE and loud[0] > 200
        check("the healing pattern plays under the box", wait_for(healing_heard, 15),
              f"the sound stopped ({loud[0]} samples of 4 s not silent)")
        check("the box is still up (nobody clicked)", bool(box_up(display, "WARNING", 0)))
        check("the overload said on stderr", said(stderr_path, "CPU task is heavy!"))
    else:
        if CASE == "restart":
            pulse_down()
            before.stop()
            went = wait_for(lambda: said(stderr_path, "the sound device went away"), 5)
            check("the loss said on stderr", went)
        if CASE == "frozen":
            before.stop()
            frozen = server_pid()
            os.kill(frozen, signal.SIGSTOP)
            # No block comes back: after 3 s the device is taken for lost.
            went = wait_for(lambda: said(stderr_path, "the sound device went away"), 8)
            check("the loss said on stderr", went)
        away_from = time.monotonic()
        first = state_row(display, wid, "row1.png")
        ticked = wait_for(lambda: state_row(display, wid, "row2.png") not in (first, b""),
                          AWAY_S - 2)
        check("the window ticked on while the sound was away (the STATE row changed)",
              ticked and first != b"")
        # The rest of the time away, as the fault lasts.
        time.sleep(max(0.0, away_from + AWAY_S - time.monotonic()))
        if CASE == "frozen":
            os.kill(frozen, signal.SIGCONT)
        else:
            pulse_up()
        back = time.monotonic()
        came = wait_for(lambda: said(stderr_path, "velmora: the sound is back"), 10)
        back_s = time.monotonic() - back
        after = Capture("after.raw")
        check(f"the sound is back within 2 s of the server ({back_s:.2f} s)", came and back_s <= 2)
        found = [None]

        def programme_heard():
            if PIPEWIRE:
                route_streams()
                found[0] = programme_by_pulses(render_onsets, after.poll(), after.origin, 0)
            else:
                found[0] = programme_chunk(render, after.poll(), after.origin, 0)
            return found[0] is not None
        check("the programme is heard again within 10 s", wait_for(programme_heard, 10))
        if found[0] is not None:
            wall, position = found[0]
            print(f"  the programme heard {wall - back:.2f} s after the server's return")
            if CASE in ("restart", "frozen"):
                late = (wall - start_wall) - position / RATE
                check(f"at the position the clock says ({late:+.2f} s)", abs(late) <= 3)
            else:
                # No sound before to place the programme by: it starts when
                # the healing step under way at Enter has ended (up to 6 s)
                # and its start pause is over. Postponed by the time without
                # sound, it would be 20 s later still.
                late = (wall - entered) - position / RATE
                check(f"at the position the clock says ({late:+.2f} s after Enter)",
                      -1 <= late <= 9)
        if CASE == "late":
            check("no device at start said once",
                  open(stderr_path).read().count("velmora: no sound device") == 1)
        check("the loss and the return said once each",
              open(stderr_path).read().count("the sound is back") == 1)
        check("no overload", not said(stderr_path, "CPU task is heavy!"))

    press(display, wid, "Escape")
    try:
        status = velmora.wait(10)
    except subprocess.TimeoutExpired:
        status = None
    check("Escape: status 0", status == 0, f"status {status}")
    print(open(stderr_path).read(), end="")
finally:
    try:
        os.kill(frozen, signal.SIGCONT)  # a frozen server is let go before it is ended
    except (NameError, ProcessLookupError):
        pass
    try:
        os.killpg(velmora.pid, signal.SIGKILL)
    except (NameError, ProcessLookupError):
        pass
    session.stop_all()
    pulse_down()
    if os.environ.get("VELMORA_KEEP"):
        print(f"kept {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)
sys.exit(session.exit_code())
