#!/usr/bin/python3
"""The web build in a real browser: headless Chromium driven by Selenium,
against the test's own server on localhost, one browser for every case.

  web_e2e.py SITE VELMORA-PLAN VELMORA-RENDER VELMORA

- start-up: no console errors; before any gesture the canvas is the
  desktop's start-up picture (velmora-plan --chart) pixel for pixel;
- keys: the first key starts the sound; Up, Right and Space before a night
  give the chart the desktop's window shows after the same keys (under
  Xvfb; a rebuild keeps the minutes the new plan does not reach, so it is
  not velmora-plan's chart for the new words), and the programme recorded
  from the processor (its 8-bit samples) is velmora-render's for those
  words byte for byte, starting where the clock says after Enter;
- frozen: the page frozen 30 s during the programme (the audio thread is
  not): the frames handed over keep pace with the clock and still equal
  the render, and the played clock the page shows is the wall clock's;
- Enter again stops the programme and healing plays;
- bad input: out-of-range, unknown and light-mode words give the desktop's
  picture for the same words and the page's line about light mode.
Exit 77 when Chromium, its driver or Selenium is missing.
"""
import base64
import functools
import http.server
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
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
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=SITE)
handler.log_message = lambda *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
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

    # The first key starts the sound; Up, Right and Space edit the night.
    press(Keys.ARROW_DOWN)  # the gesture: taken by the start, not as a key
    check("the sound starts with the first key",
          wait_for(lambda: driver.execute_script("return velmoraTest.running() === 'running' && "
                                                 "velmoraTest.state"), 10))
    for key in (Keys.ARROW_UP, Keys.ARROW_RIGHT, Keys.SPACE):
        press(key)
        time.sleep(0.3)  # each key's effect is painted before the next key (as a user sees it)
    edited = ["m1", "r5", "+2", "#"]
    wait_for(lambda: driver.execute_script("return velmoraTest.keys.length") >= 3, 5)
    time.sleep(1)  # the next snapshot carries the rebuilt plan
    chart_rows = range(104, 104 + 80)  # the chart's box
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

    # Enter: the programme, recorded from the processor.
    driver.execute_script("velmoraTest.record(true)")
    time.sleep(0.5)
    press(Keys.ENTER)
    enter = wait_for(lambda: driver.execute_script(
        "const k = velmoraTest.keys.filter(k => k.key === 13); return k.length && k[0].frame"), 5)
    render = subprocess.run([RENDER, "--quiet", "--format", "raw", "--out", "-", "--"] + edited,
                            capture_output=True, check=True).stdout[:RATE * 120]
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
              "for byte", n > 10 * RATE and played[at:at + n] == render[first:first + n])

        # Frozen: the page's thread stops for 30 s (and the audio thread with it,
        # if the browser stops that too).
        before, _ = samples_after(enter)
        frozen_at = time.monotonic()
        driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "frozen"})
        time.sleep(30)
        driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "active"})
        time.sleep(3)
        played, _ = samples_after(enter)
        wall = time.monotonic() - frozen_at
        handed = (len(played) - len(before)) / RATE
        away = driver.execute_script("return velmoraTest.away")
        if away:
            # The browser stopped the audio thread too: the night went on by
            # the clock, and the sound goes on at the present position.
            skipped = sum(a["frames"] for a in away)
            since = away[-1]["frame"] - recorded_from  # in the recording

            def heard_again():
                data, _ = samples_after(recorded_from)
                k = next((k for k in range(since, len(data) - RATE) if data[k] != 128), None)
                return None if k is None else (k - 1, data)
            resumed, played = wait_for(heard_again, 15) or (since, b"")
            piece = played[resumed:resumed + RATE]
            # The programme repeats itself within a step: looked for from 2 s
            # before the place the clock says.
            wanted = first + (resumed - at_all) + skipped
            where = render.find(piece, max(first, wanted - 2 * RATE)) if piece else -1
            check(f"the browser stopped the audio {skipped / RATE:.1f} s: after it the programme "
                  f"plays where the clock says ({(where - wanted) / RATE:+.2f} s)",
                  where >= 0 and abs(where - wanted) <= 2 * RATE)
            print(f"  note: {handed:.1f} s of frames handed over in {wall:.1f} s")
        else:
            # The processor posts every half second: the last chunk may be on its way.
            check(f"the frames handed over kept pace with the clock ({handed:.1f} s in "
                  f"{wall:.1f} s)", abs(handed - wall) <= 1.0)
            n = min(len(played) - at, len(render) - first)
            check(f"{n / RATE:.1f} s of programme recorded, through the freeze, equal the render "
                  "byte for byte", played[at:at + n] == render[first:first + n])
        played_ms = driver.execute_script("return velmoraTest.playedMs()")
        started = driver.execute_script("return velmoraTest.startedAt")
        behind = time.time() - started - played_ms / 1000
        check(f"the page's played clock is the wall clock's after the freeze ({behind:+.2f} s)",
              abs(behind) <= 3)

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
finally:
    driver.quit()
    server.shutdown()
    shutil.rmtree(work, ignore_errors=True)
print("FAILED: " + ", ".join(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
