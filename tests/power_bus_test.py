#!/usr/bin/python3
"""velmora keeps the computer awake through a real D-Bus, against mocks.

  power_bus_test.py VELMORA

On private buses of its own (a session bus and a bus given to velmora as the
system bus): with logind mocked (python3-dbusmock's template), an inhibitor
by "Velmora" of "idle" is listed while velmora plays (in sound mode, and in
light mode with its lamps on a pty), and none after Escape
or after kill -9; with a desktop portal mocked, its Inhibit is called with
flags 4 and the request is closed at Escape, and logind is not asked; a
portal that never answers holds velmora back about 2 s, not 25; with no bus
at all, one line on stderr and the night plays. Runs under Debian's
/usr/bin/python3, which sees python3-dbusmock; exit 77 when a tool is missing.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from light_line_e2e import Box
from x_session import Session, escape, wait_for, window_up

try:
    import dbus
except ImportError:
    print("SKIP: python3-dbus is not installed for this python")
    sys.exit(77)

VELMORA = sys.argv[1]
PORTAL = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
REQUEST_PATH = "/org/freedesktop/portal/desktop/request/1_0/velmora"
MOCK = "org.freedesktop.DBus.Mock"
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={dir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

session_ = Session()
check = session_.check
start = session_.start


def private_bus(work, name):
    """A dbus-daemon with no service activation; returns its address."""
    folder = os.path.join(work, name)
    os.mkdir(folder)
    config = os.path.join(folder, "bus.conf")
    with open(config, "w") as f:
        f.write(BUS_CONFIG.format(dir=folder))
    p = start(["dbus-daemon", "--config-file", config, "--nofork", "--print-address=1"],
              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return p.stdout.readline().strip()


def mock(address, *args):
    # A template may insist on the system bus: both names lead to this one.
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address, DBUS_SYSTEM_BUS_ADDRESS=address)
    start([sys.executable, "-m", "dbusmock", *args], env=env, stdout=subprocess.DEVNULL)


def proxy(address, name, path):
    bus = dbus.bus.BusConnection(address)
    ok = wait_for(lambda: bus.name_has_owner(name), 20)
    if not ok:
        sys.exit(f"FAIL: the mock {name} did not come up")
    return bus.get_object(name, path)


def velmora(display, session, system, words=("m1",), **extra):
    env = dict(os.environ, DISPLAY=display, SDL_AUDIODRIVER="disk",
               SDL_DISKAUDIOFILE=os.path.join(work, "played.raw"),
               DBUS_SESSION_BUS_ADDRESS=session, DBUS_SYSTEM_BUS_ADDRESS=system, **extra)
    return start([VELMORA, *words], env=env, stderr=subprocess.PIPE, text=True)


for tool in ("dbus-daemon", "Xvfb", "xdotool"):
    if shutil.which(tool) is None:
        print(f"SKIP: {tool} is not installed")
        sys.exit(77)
try:
    import dbusmock  # noqa: F401
except ImportError:
    print("SKIP: python3-dbusmock is not installed for this python")
    sys.exit(77)

work = tempfile.mkdtemp(prefix="velmora-power-")
try:
    display = session_.xvfb()

    # logind on the "system" bus, nothing on the session bus.
    session = private_bus(work, "session")
    system = private_bus(work, "system")
    mock(system, "--template", "logind")
    logind = proxy(system, "org.freedesktop.login1", "/org/freedesktop/login1")
    inhibitors = lambda: [tuple(str(x) for x in i[:4])
                          for i in logind.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager")]
    held = ("idle", "Velmora", "playing a night programme", "block")

    p = velmora(display, session, system)
    wid = window_up(display)
    check("logind: the window comes", bool(wid))
    check("logind: an idle inhibitor by Velmora while it plays",
          wait_for(lambda: held in inhibitors(), 10), inhibitors())
    status, err = escape(display, wid, p)
    check("logind: Escape ends with 0", status == 0, status)
    check("logind: no inhibitor after Escape", wait_for(lambda: inhibitors() == [], 10), inhibitors())
    check("logind: nothing said", "cannot keep" not in err, err)

    p = velmora(display, session, system)
    window_up(display)
    wait_for(lambda: held in inhibitors(), 10)
    p.send_signal(signal.SIGKILL)
    p.wait()
    check("logind: no inhibitor after kill -9", wait_for(lambda: inhibitors() == [], 10),
          inhibitors())

    # Light mode, its lamps a light box on a pty of the test's own.
    box = Box()
    p = velmora(display, session, system, ("m1", "!3", "."), VELMORA_LIGHTS=box.device)
    wid = window_up(display)
    check("light mode: an idle inhibitor by Velmora while it plays",
          wait_for(lambda: held in inhibitors(), 10), inhibitors())
    status, err = escape(display, wid, p)
    box.close()
    check("light mode: Escape ends with 0", status == 0, f"{status} {err}")
    check("light mode: the box was lit", box.bytes()[:1] == b"\xff", box.bytes()[:4])
    check("light mode: no inhibitor after Escape", wait_for(lambda: inhibitors() == [], 10),
          inhibitors())

    # A portal on the session bus is asked first, with flags 4; logind is not.
    mock(session, PORTAL, PORTAL_PATH, "org.freedesktop.portal.Inhibit")
    portal = proxy(session, PORTAL, PORTAL_PATH)
    portal.AddMethod("org.freedesktop.portal.Inhibit", "Inhibit", "sua{sv}", "o",
                     f"ret = dbus.ObjectPath('{REQUEST_PATH}')", dbus_interface=MOCK)
    portal.AddObject(REQUEST_PATH, "org.freedesktop.portal.Request", {},
                     [("Close", "", "", "")], dbus_interface=MOCK)
    request = dbus.bus.BusConnection(session).get_object(PORTAL, REQUEST_PATH)
    p = velmora(display, session, system)
    wid = window_up(display)
    calls = lambda obj: [(str(c[1]), c[2]) for c in obj.GetCalls(dbus_interface=MOCK)]
    check("portal: Inhibit called", wait_for(lambda: calls(portal) != [], 10))
    args = calls(portal)[0][1] if calls(portal) else []
    check("portal: window \"\", flags 4 (suspend), a reason",
          len(args) == 3 and str(args[0]) == "" and int(args[1]) == 4 and
          str(args[2].get("reason", "")) == "playing a night programme", args)
    check("portal: logind not asked", inhibitors() == [], inhibitors())
    status, err = escape(display, wid, p)
    check("portal: Escape ends with 0", status == 0, status)
    check("portal: the request closed at Escape", [c[0] for c in calls(request)] == ["Close"],
          calls(request))

    # A portal that never answers (its Inhibit hangs for 60 s): the call gives
    # up within about 2 s, logind holds the computer instead, and the window
    # comes within seconds rather than after sd-bus's 25 s.
    silent = private_bus(work, "silent")
    mock(silent, PORTAL, PORTAL_PATH, "org.freedesktop.portal.Inhibit")
    hung = proxy(silent, PORTAL, PORTAL_PATH)
    hung.AddMethod("org.freedesktop.portal.Inhibit", "Inhibit", "sua{sv}", "o",
                   "import time; time.sleep(60); ret = dbus.ObjectPath('/x')", dbus_interface=MOCK)
    started = time.monotonic()
    p = velmora(display, silent, system)
    wid = window_up(display)
    took = time.monotonic() - started
    check(f"silent portal: the window comes within 8 s ({took:.1f} s)", bool(wid) and took < 8)
    check("silent portal: logind holds instead", wait_for(lambda: held in inhibitors(), 10),
          inhibitors())
    status, err = escape(display, wid, p)
    check("silent portal: Escape ends with 0", status == 0, status)

    # No bus at all: one line, and the night plays on.
    none = "unix:path=" + os.path.join(work, "no-such-bus")
    played = os.path.join(work, "played.raw")
    if os.path.exists(played):
        os.unlink(played)
    p = velmora(display, none, none)
    wid = window_up(display)
    check("no bus: the window comes", bool(wid))
    size = lambda: os.path.getsize(played) if os.path.exists(played) else 0
    before = size()
    check("no bus: the sound plays on", wait_for(lambda: size() >= before + 32000, 10),
          (before, size()))
    status, err = escape(display, wid, p)
    lines = [l for l in err.splitlines() if "cannot keep the computer awake" in l]
    check("no bus: one line on stderr", len(lines) == 1 and lines[0].startswith(
        "velmora: cannot keep the computer awake (") and
        lines[0].endswith("); it may suspend during the night"), err)
    check("no bus: Escape ends with 0", status == 0, status)
finally:
    session_.stop_all()
    shutil.rmtree(work, ignore_errors=True)

sys.exit(session_.exit_code())
