#!/usr/bin/python3
"""The web build in a real browser: headless Chromium driven by Selenium,
against the test's own server on localhost, one browser for every case.

  web_e2e.py SITE VELMORA-PLAN VELMORA-RENDER VELMORA

- start-up: no console errors; before any gesture the canvas is the
  desktop's start-up picture (velmora-plan --chart) pixel for pixel;
- keys: the first key starts the sound; Up, Right and Space before a night
  give the chart the desktop's window shows after the same keys (under
  Xvfb; a rebuild keeps the minutes the new plan does not reach, so it is
  not velmora-plan's chart for the new words), Space turns the recorded
  pulses into the tone, and after Space again the programme recorded from
  the processor (its 8-bit samples) is velmora-render's for those words
  byte for byte, starting where the clock says after Enter;
- frozen: the page frozen 30 s during the programme (the audio thread is
  not): the frames handed over keep pace with the clock and still equal
  the render, and the played clock the page shows is the wall clock's;
- Enter again stops the programme and healing plays;
- bad input: out-of-range, unknown and light-mode words give the desktop's
  picture for the same words and the page's line about light mode;
and as on a phone:
- installable: the manifest has a name, a start URL in scope, standalone
  display and icons that exist at their sizes, one maskable;
- offline: after the first visit the service worker controls the page, and
  with the test's server stopped the page loads from it; every case after
  that runs with no server at all;
- suspended: the context suspended 20 s during the programme (as a call
  does): the rows go on by the clock meanwhile, and afterwards the
  programme plays where the clock says, with no overload said;
- hidden 60 s (the window minimised): the silent element plays throughout,
  the programme goes on byte for byte, and Media Session names the stage;
- touch: in a 360 x 640 window with touch emulation, every button is at
  least 48 pixels and on the screen without scrolling, and taps do what the
  keys do.
Exit 77 when Chromium, its driver or Selenium is missing.
"""
import base64
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

SITE, PLAN, RENDER, VELMORA = sys.argv[1:5]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x_session import Session, press as x_press, window_up  # noqa: E402
RATE = 32000
try:
    from selenium import webdriver
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)
if not os.path.exists(os.path.join(SITE, "velmora-audio.wasm")):
    print(f"SKIP: no web site in {SITE} (cmake --preset web && cmake --build --preset web)")
    sys.exit(77)
for tool in ("chromium", "chromedriver", "Xvfb", "xdotool", "import"):
    if shutil.which(tool) is None:
        print(f"SKIP: {tool} is not installed")
        sys.exit(77)

failures = []


def check(name, ok, detail=""):
    print(("ok: " if ok else "FAIL: ") + name + ("" if ok or not detail else f" ({detail})"))
    if not ok:
        failures.append(name)
    return ok


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


def png_pixels(path):
    """RGB bytes of an 8-bit RGB PNG without filters, as velmora-plan writes it."""
    data = open(path, "rb").read()
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IHDR":
            width = struct.unpack(">I", data[at + 8:at + 12])[0]
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + 3 * width
    return b"".join(raw[i + 1:i + stride] for i in range(0, len(raw), stride))


def desktop_picture(words, at=None):
    """velmora-plan's picture; `at`: the night's start, which places the
    chart's hour lines."""
    path = os.path.join(work, "chart.png")
    subprocess.run([PLAN, "--chart", path] + (["--at", str(at)] if at else []) + ["--"] + words,
                   check=True, capture_output=True)
    return png_pixels(path)


def desktop_window_after(words, keys):
    """The desktop window's pixels (RGB, unscaled) after `keys`, with no sound
    device (the night runs on its stand-in)."""
    session = Session()
    try:
        display = session.xvfb()
        session.start([VELMORA] + words, env=dict(os.environ, DISPLAY=display, VELMORA_SCALE="1",
                                                  SDL_AUDIODRIVER="dummy"),
                      stderr=subprocess.DEVNULL)
        wid = window_up(display)
        if not wid:
            return b""
        time.sleep(1)  # start-up's creation pause
        for key in keys:
            x_press(display, wid, key)
            time.sleep(0.3)  # as on the page: each key painted before the next
        time.sleep(1)
        path = os.path.join(work, "window.rgb")
        subprocess.run(["import", "-window", wid, "-depth", "8", "rgb:" + path],
                       env=dict(os.environ, DISPLAY=display), check=True)
        return open(path, "rb").read()
    finally:
        session.stop_all()


def canvas_rgb(what="pixels"):
    """The canvas's pixels, or with "bitmap" the picture under the window's
    blinking cursor."""
    rgba = driver.execute_script(f"return window.velmoraTest.{what}()")
    return bytes(v for i, v in enumerate(rgba) if i % 4 != 3)


def differing(a, b, rows=range(272)):
    """Pixels that differ, in the rows given."""
    return [(i // 3 % 288, i // 864) for i in range(0, min(len(a), len(b)), 3)
            if i // 864 in rows and a[i:i + 3] != b[i:i + 3]]


work = tempfile.mkdtemp(prefix="velmora-web-")
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=SITE))
threading.Thread(target=server.serve_forever, daemon=True).start()
base = f"http://127.0.0.1:{server.server_address[1]}/"

options = webdriver.ChromeOptions()
options.binary_location = shutil.which("chromium")
for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=800,700",
             "--autoplay-policy=no-user-gesture-required", f"--user-data-dir={work}/profile"):
    options.add_argument(flag)
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
driver = webdriver.Chrome(service=webdriver.ChromeService(executable_path=shutil.which("chromedriver"))
                          if hasattr(webdriver, "ChromeService") else None, options=options) \
    if hasattr(webdriver, "ChromeService") else webdriver.Chrome(options=options)


def console_errors():
    return [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]


def open_page(words):
    driver.get(base + "?test&words=" + "+".join(w.replace("+", "%2B").replace("#", "%23")
                                                for w in words))
    return wait_for(lambda: driver.execute_script("return !!(window.velmoraTest && velmoraTest.ready)"), 10)


def press(key):
    ActionChains(driver).send_keys(key).perform()


def tap(label):
    """A finger's tap (touch events through the DevTools protocol) on the
    button that reads `label`."""
    x, y = driver.execute_script(
        "const b = [...document.querySelectorAll('#buttons button')]"
        ".find(b => b.textContent === arguments[0]);"
        "const r = b.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2];",
        label)
    driver.execute_cdp_cmd("Input.dispatchTouchEvent",
                           {"type": "touchStart", "touchPoints": [{"x": x, "y": y}]})
    driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})


def keys_taken(count):
    """Waits until the page has seen `count` keys taken and a picture after the
    last (a plan edit waits for the chart of the one before)."""
    return wait_for(lambda: driver.execute_script(
        "const k = velmoraTest.keys; return k.length >= arguments[0] && "
        "velmoraTest.state > k[arguments[0] - 1].at", count), 5)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24]) if head[:8] == b"\x89PNG\r\n\x1a\n" else None


def mismatch(played, wanted):
    """Where two runs of samples part, said for a failure."""
    k = next((i for i, (a, b) in enumerate(zip(played, wanted)) if a != b), None)
    if k is None:
        return f"{len(played)} against {len(wanted)} samples"
    elsewhere = wanted.find(played[k:k + 4000])
    return (f"they part {k / RATE:.3f} s in ({played[k:k + 8].hex()} for {wanted[k:k + 8].hex()}); "
            f"what follows is the render's at {elsewhere / RATE:.3f} s" if elsewhere >= 0 else
            f"they part {k / RATE:.3f} s in; what follows is nowhere in the render")


def check_manifest():
    with open(os.path.join(SITE, "velmora.webmanifest"), encoding="utf-8") as f:
        manifest = json.load(f)
    scope = urllib.parse.urljoin(base, manifest.get("scope", "./"))
    check("the manifest names the app, starts in its scope and stands alone",
          manifest.get("name") == "Velmora" and manifest.get("short_name") and
          urllib.parse.urljoin(base, manifest.get("start_url", "")).startswith(scope) and
          manifest.get("display") == "standalone" and manifest.get("theme_color"), str(manifest))
    sizes = {}
    for icon in manifest.get("icons", []):
        width, height = map(int, icon["sizes"].split("x"))
        real = png_size(os.path.join(SITE, icon["src"]))
        check(f"icon {icon['src']} exists at {icon['sizes']}", real == (width, height), str(real))
        sizes.setdefault(width, set()).update(icon.get("purpose", "any").split())
    check("icons at 192 and 512 pixels, one of them maskable",
          "any" in sizes.get(192, ()) and "any" in sizes.get(512, ()) and
          any("maskable" in p for p in sizes.values()), str(sizes))


def samples_after(frame):
    """The recorded samples from context frame `frame` on."""
    chunks = driver.execute_script(
        "const s = velmoraTest.samples.map(c => ({frame: c.frame, b: btoa(String.fromCharCode(...c.bytes))}));"
        "return s;")
    if not chunks:
        return b"", None
    first = chunks[0]["frame"]
    data = b"".join(base64.b64decode(c["b"]) for c in chunks)
    return data[max(0, frame - first):], first


try:
    # Start-up: the picture before any gesture.
    words = ["m1"]
    check("the page loads", bool(open_page(words)))
    shown = canvas_rgb()
    wanted = desktop_picture(words)
    check("the start-up picture is the desktop's, pixel for pixel", shown == wanted,
          f"{len(differing(shown, wanted))} pixels differ, first {differing(shown, wanted)[:5]}")
    line = driver.execute_script("return document.getElementById('line').textContent")
    check("a line asks for a gesture", "Press a key or tap" in line, line)
    check_manifest()

    # Offline: the service worker takes the page at its next load; then the
    # server goes, and every case after this one is played from its copy.
    check("the service worker is active after the first visit", driver.execute_async_script(
        "const done = arguments[0]; navigator.serviceWorker.ready.then(r => done(!!r.active))"))
    open_page(words)
    check("the service worker controls the page after a reload",
          driver.execute_script("return velmoraTest.offline()"))
    server.shutdown()
    server.server_close()
    check("with no server, the page loads from the service worker's copy", bool(open_page(words)))
    shown = canvas_rgb()
    check("offline: the start-up picture is the desktop's", shown == wanted,
          f"{len(differing(shown, wanted))} pixels differ")

    # The first key starts the sound; Up, Right and Space edit the night.
    press(Keys.ARROW_DOWN)  # the gesture: taken by the start, not as a key
    check("the sound starts with the first key",
          wait_for(lambda: driver.execute_script("return velmoraTest.running() === 'running' && "
                                                 "velmoraTest.state"), 10))
    driver.execute_script("velmoraTest.record(true)")
    for count, key in enumerate((Keys.ARROW_UP, Keys.ARROW_RIGHT, Keys.SPACE), 1):
        press(key)
        keys_taken(count)  # each key taken before the next (as a user sees it)
    shown, bitmap = canvas_rgb(), canvas_rgb("bitmap")
    desktop = desktop_window_after(["m1"], ["Up", "Right", "space"])
    # Either window's blinking cursor aside: compared under it.
    off = differing(bitmap, desktop, range(104, 272))
    columns = {x for x, _ in off}
    check("Up, Right and Space before a night: the desktop window's chart after the same keys",
          len(desktop) == len(bitmap) and len(columns) <= 1,
          f"{len(off)} pixels differ in columns {sorted(columns)[:12]}")
    cursor = {x for x, _ in differing(shown, bitmap, range(104, 272))}
    check("the canvas is that picture with the cursor", len(cursor) <= 1, f"columns {sorted(cursor)}")
    power_before = desktop_picture(["m1", "r5", "+2"])
    check("Space changed the POWER row", differing(shown, power_before, range(76, 96)) != [])
    check("the POWER row is the desktop's after the same keys",
          not differing(shown, desktop, range(76, 96)))

    # Space's waveform: the healing pattern's pulses never go below silence
    # (128), its tone does. The tone's phase runs on from the healing it
    # played, so the programme is compared as pulses: Space again.
    space = driver.execute_script("return velmoraTest.keys[2].frame")
    recorded_all, recorded_first = samples_after(0)
    before_space = recorded_all[:max(0, space - (recorded_first or space))]
    check("before Space the healing pattern is pulses (nothing below silence)",
          len(before_space) > 0 and min(before_space) >= 128, f"{len(before_space)} samples")
    check("after Space it is the tone (samples below silence)", wait_for(
        lambda: min(samples_after(space)[0] or b"\x80") < 128, 20))
    press(Keys.SPACE)
    keys_taken(4)
    edited = ["m1", "r5", "+2"]

    # Enter: the programme, recorded from the processor.
    press(Keys.ENTER)
    enter = wait_for(lambda: driver.execute_script(
        "const k = velmoraTest.keys.filter(k => k.key === 13); return k.length && k[0].frame"), 5)
    render = subprocess.run([RENDER, "--quiet", "--format", "raw", "--out", "-", "--"] + edited,
                            capture_output=True, check=True).stdout[:RATE * 300]
    first = next(i for i, b in enumerate(render) if b != 128) - 1
    found = [None]

    def programme_found():
        played, _ = samples_after(enter)
        at = played.find(render[first:first + 20 * 1776])
        found[0] = (at, played) if at >= 0 else None
        return found[0]
    check("the programme is recorded after Enter", wait_for(programme_found, 25))
    if found[0]:
        at, _ = found[0]
        _, recorded_from = samples_after(0)
        at_all = at + enter - recorded_from  # the programme's start in the whole recording
        late = (at - first) / RATE
        check(f"the programme starts where the clock says ({late:.2f} s after Enter)", -1 <= late <= 9)

        def twenty_seconds():
            data, _ = samples_after(enter)
            return len(data) >= 20 * RATE and data
        played = wait_for(twenty_seconds, 30) or b""
        n = min(len(played) - at, len(render) - first)
        check(f"the {n / RATE:.1f} s of programme in the 20 s after Enter equal the render byte "
              "for byte", n > 10 * RATE and played[at:at + n] == render[first:first + n],
              mismatch(played[at:at + n], render[first:first + n]))

        def recorded():
            return samples_after(recorded_from)[0]

        def skipped_frames():
            return sum(a["frames"] for a in driver.execute_script("return velmoraTest.away"))

        def heard_where_clock_says(name, since):
            """The first second heard from recording index `since` on is the
            render's at the place the clock says: every frame recorded, and
            every frame the night skipped while the browser held the audio."""
            def heard():
                data = recorded()
                k = next((k for k in range(since, len(data) - RATE) if data[k] != 128), None)
                return None if k is None else (max(since, k - 1), data)
            resumed, data = wait_for(heard, 15) or (since, b"")
            piece = data[resumed:resumed + RATE]
            # The programme repeats itself within a step: looked for from 2 s
            # before the place the clock says.
            wanted = first + (resumed - at_all) + skipped_frames()
            where = render.find(piece, max(first, wanted - 2 * RATE)) if piece else -1
            check(f"{name}: the programme plays where the clock says "
                  f"({(where - wanted) / RATE:+.2f} s)", where >= 0 and abs(where - wanted) <= 2 * RATE)

        # Frozen: the page's thread stops for 30 s (and the audio thread with it,
        # if the browser stops that too).
        before = recorded()
        frozen_at = time.monotonic()
        driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "frozen"})
        time.sleep(30)
        driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "active"})
        time.sleep(3)
        played = recorded()
        wall = time.monotonic() - frozen_at
        handed = (len(played) - len(before)) / RATE
        away = driver.execute_script("return velmoraTest.away")
        if away:
            # The browser stopped the audio thread too: the night went on by
            # the clock, and the sound goes on at the present position.
            heard_where_clock_says(f"the browser stopped the audio {skipped_frames() / RATE:.1f} s",
                                   away[-1]["frame"] - recorded_from)
            print(f"  note: {handed:.1f} s of frames handed over in {wall:.1f} s")
        else:
            # The processor posts every half second: the last chunk may be on its way.
            check(f"the frames handed over kept pace with the clock ({handed:.1f} s in "
                  f"{wall:.1f} s)", abs(handed - wall) <= 1.0)
            n = min(len(played) - at_all, len(render) - first)
            check(f"{n / RATE:.1f} s of programme recorded, through the freeze, equal the render "
                  "byte for byte", played[at_all:at_all + n] == render[first:first + n])
        played_ms = driver.execute_script("return velmoraTest.playedMs()")
        started = driver.execute_script("return velmoraTest.startedAt")
        behind = time.time() - started - played_ms / 1000
        check(f"the page's played clock is the wall clock's after the freeze ({behind:+.2f} s)",
              abs(behind) <= 3)

        # Suspended: the context stopped from the page for 20 s, as a call
        # stops it. The page keeps the night's time meanwhile.
        driver.execute_script("velmoraTest.suspend()")
        check("the context is suspended", wait_for(
            lambda: driver.execute_script("return velmoraTest.running()") == "suspended", 5))
        line = driver.execute_script("return document.getElementById('line').textContent")
        check("the page says the sound was stopped and how to bring it back",
              "Tap or press a key" in line, line)
        since_ms, since = driver.execute_script("return velmoraTest.playedMs()"), time.monotonic()
        time.sleep(20)
        moved = (driver.execute_script("return velmoraTest.playedMs()") - since_ms) / 1000
        wall = time.monotonic() - since
        check(f"while suspended the played clock, the rows and the cursor go on ({moved:.0f} s "
              f"in {wall:.1f} s)", abs(moved - wall) <= 2.5)
        driver.execute_script("velmoraTest.resume()")
        away = driver.execute_script("return velmoraTest.away")
        heard_where_clock_says("after 20 s suspended", away[-1]["frame"] - recorded_from if away else 0)

        # Hidden: the window minimised for 60 s, as a phone's locked screen
        # hides the page: the silent element and the programme play on.
        hidden_from, away_before = len(recorded()), len(away)
        skipped_before = skipped_frames()
        driver.minimize_window()
        check("the page is hidden",
              driver.execute_script("return document.visibilityState") == "hidden")
        ticks = [driver.execute_script("return velmoraTest.silentTicks")]
        for _ in range(6):
            time.sleep(10)
            ticks.append(driver.execute_script("return velmoraTest.silentTicks"))
        playing = driver.execute_script("return velmoraTest.silentPlaying()")
        check("the silent element played throughout the 60 s hidden (its time moved in each 10 s)",
              all(b > a for a, b in zip(ticks, ticks[1:])) and playing,
              f"time updates {ticks}, playing {playing}")
        stage, artist = driver.execute_script(
            "return [velmoraTest.stateText(), velmoraTest.mediaArtist()]")
        check("Media Session names the stage", artist == stage and "Healing" not in stage,
              f"{artist!r} for {stage!r}")
        data = recorded()
        away = driver.execute_script("return velmoraTest.away")
        place = first + (hidden_from - at_all) + skipped_before
        n = min(len(data) - hidden_from, len(render) - place)
        check(f"hidden: {n / RATE:.1f} s of programme go on, the render's byte for byte",
              len(away) == away_before and n >= 55 * RATE and
              data[hidden_from:hidden_from + n] == render[place:place + n])
        driver.set_window_rect(0, 0, 800, 700)
        check("the page is visible again", wait_for(lambda: driver.execute_script(
            "return document.visibilityState") == "visible", 5))

    # Enter again: the programme stops and healing plays.
    press(Keys.ENTER)
    check("Enter again: healing plays",
          wait_for(lambda: "healing" in driver.execute_script("return velmoraTest.stateText()")
                   .lower(), 12),
          driver.execute_script("return velmoraTest.stateText()"))
    check("no CPU overload said", not any("CPU task is heavy" in b["text"] for b in
                                          driver.execute_script("return velmoraTest.boxes")))
    errors = console_errors() + driver.execute_script("return velmoraTest.errors")
    check("no errors in the console", not errors, "; ".join(map(str, errors))[:300])

    # Bad input: the desktop's bounds, unknown words ignored, light mode said.
    bad = ["-99", "+99", "zz", "m1", "!3"]
    check("the page loads with bad words", bool(open_page(bad)))
    shown = canvas_rgb()
    wanted = desktop_picture(["-99", "+99", "zz", "m1"])
    check("bad words: the desktop's picture for them", shown == wanted,
          f"{len(differing(shown, wanted))} pixels differ")
    notice = driver.execute_script("return document.getElementById('notice').textContent")
    check("a light-mode word is said to need a port", "Light mode needs" in notice, notice)
    errors = console_errors() + driver.execute_script("return velmoraTest.errors")
    check("no errors in the console", not errors, "; ".join(map(str, errors))[:300])

    # A phone held upright: the keys as buttons for a finger, taps as keys.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 360, "height": 640, "deviceScaleFactor": 3, "mobile": True})
    driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
    check("the page loads on a phone", bool(open_page(["m1"])))
    layout = driver.execute_script(
        "const e = document.documentElement;"
        "return {width: innerWidth, height: innerHeight, scrollW: e.scrollWidth, scrollH: e.scrollHeight,"
        " picture: picture.getBoundingClientRect().bottom,"
        " buttons: [...document.querySelectorAll('#buttons button')].map(b => {"
        "   const r = b.getBoundingClientRect();"
        "   return [b.textContent, r.left, r.top, r.right, r.bottom]; })}")
    small = [b[0] for b in layout["buttons"] if b[3] - b[1] < 48 or b[4] - b[2] < 48]
    outside = [b[0] for b in layout["buttons"] if b[1] < 0 or b[2] < 0 or
               b[3] > layout["width"] or b[4] > layout["height"]]
    check(f"{len(layout['buttons'])} buttons, each at least 48 pixels and inside the 360 x 640 "
          "viewport", len(layout["buttons"]) == 7 and not small and not outside,
          f"small {small}, outside {outside}")
    check("the picture and the buttons fit without scrolling",
          layout["scrollW"] <= layout["width"] and layout["scrollH"] <= layout["height"], str(layout))
    tap("More cycles")  # the gesture: taken by the start, as the first key is
    check("a tap starts the sound", wait_for(lambda: driver.execute_script(
        "return velmoraTest.running() === 'running' && velmoraTest.state"), 10))
    for count, label in enumerate(("Fewer cycles", "More time+", "Pulse / tone"), 1):
        tap(label)
        keys_taken(count)
    bitmap = canvas_rgb("bitmap")
    columns = {x for x, _ in differing(bitmap, desktop, range(104, 272))}
    check("taps on Fewer cycles, More time+ and Pulse / tone: the desktop's chart after Up, "
          "Right and Space", len(columns) <= 1, f"columns {sorted(columns)[:12]}")
    check("and its POWER row", not differing(bitmap, desktop, range(76, 96)))
    tap("Start night")
    check("a tap on Start night starts the night (its button now stops it, the plan's wait)",
          wait_for(lambda: driver.execute_script(
              "return document.getElementById('night').textContent === 'Stop night' && "
              "document.querySelector('#buttons .plan').disabled"), 5))
    check("the screen may sleep: no wake lock while the option is off",
          not driver.execute_script("return velmoraTest.screenKeptOn()"))
    driver.execute_script("document.getElementById('awake').click()")
    check("the option on keeps the screen on while the sound plays",
          wait_for(lambda: driver.execute_script("return velmoraTest.screenKeptOn()"), 5))
    tap("Stop sound")
    check("a tap on Stop sound stops it and says how to start again, and lets the screen sleep",
          wait_for(lambda: "start it again" in driver.execute_script(
              "return document.getElementById('line').textContent") and
              not driver.execute_script("return velmoraTest.running() || velmoraTest.screenKeptOn()"), 5))
    errors = console_errors() + driver.execute_script("return velmoraTest.errors")
    check("no errors in the console", not errors, "; ".join(map(str, errors))[:300])
finally:
    driver.quit()
    server.shutdown()
    shutil.rmtree(work, ignore_errors=True)
print("FAILED: " + ", ".join(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
