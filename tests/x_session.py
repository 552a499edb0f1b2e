"""Shared by the Python end-to-end tests: named checks, processes that are
always stopped, a virtual display of the test's own, and velmora's window."""
import os
import subprocess
import time

TITLE = "^VelmoraSystem 132$"


class Session:
    def __init__(self):
        self.failures = 0
        self.processes = []

    def check(self, name, ok, detail=""):
        print(("ok: " if ok else "FAIL: ") + name + ("" if ok else f" ({detail})"), flush=True)
        self.failures += 0 if ok else 1

    def start(self, argv, **kw):
        p = subprocess.Popen(argv, **kw)
        self.processes.append(p)
        return p

    def stop_all(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()

    def xvfb(self):
        """Starts a virtual display; returns its name (":N")."""
        # -noreset: an X server resets when its last client leaves, and one
        # that connects during the reset is refused; the tests start one
        # velmora after another.
        p = self.start(["Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", "640x480x24",
                        "-nolisten", "tcp"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return ":" + p.stdout.readline().strip()

    def exit_code(self):
        return 1 if self.failures else 0


def wait_for(predicate, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def find_window(display, title=TITLE):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                       env=dict(os.environ, DISPLAY=display), capture_output=True, text=True)
    return r.stdout.split()[0] if r.stdout.split() else ""


def window_up(display, title=TITLE, seconds=30):
    """The id of velmora's window once it shows, or ""."""
    wid = ""
    end = time.monotonic() + seconds
    while not wid and time.monotonic() < end:
        wid = find_window(display, title)
        time.sleep(0.1)
    return wid


def box_up(display, name, seconds=10):
    """The id of a message box named `name` once it shows, or "". SDL's X11
    box sets only its name, which xdotool's search does not find; the
    window tree shows it."""
    end = time.monotonic() + seconds
    while True:  # looked for at least once
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=dict(os.environ, DISPLAY=display),
                              capture_output=True, text=True).stdout
        wid = next((line.split()[0] for line in tree.splitlines() if f'"{name}"' in line), "")
        if wid or time.monotonic() >= end:
            return wid
        time.sleep(0.1)


def press(display, wid, key):
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], env=env, capture_output=True)
    subprocess.run(["xdotool", "key", key], env=env)


def escape(display, wid, p):
    """Escape in velmora's window; its exit status and stderr (None on a hang)."""
    press(display, wid, "Escape")
    try:
        return p.wait(10), p.stderr.read()
    except subprocess.TimeoutExpired:
        return None, ""
