#!/usr/bin/python3
"""The web build in headless Chromium: its cost and its size.

- CPU: the browser's processes (every process under chromedriver, from
  /proc) over SECONDS while a programme plays, against the same page idle
  (loaded, no sound started) and against the floor of any page that plays
  sound this way (a page of this script's own: a context at 32000 Hz with
  an AudioWorklet that makes a constant, and the same looping element), in
  alternating rounds of one browser each; prints the medians and the share
  of one core the programme adds to each.
- Size: each file of the site, and the whole site gzipped (gzip -9 each).
- First picture: from navigation to the page's first painted picture (the
  mark "velmora-first-picture"), the median of several fresh loads.
Not a test: the figures go into the README. Targets: at most 2 % of one core
above the idle page, at most 400 kB gzipped, the first picture within 1 s.

  bench/web_cpu.py [--seconds 60] [--rounds 2] [--loads 5] SITE
"""
import argparse
import functools
import gzip
import http.server
import os
import shutil
import statistics
import sys
import tempfile
import struct
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from x_session import wait_for  # noqa: E402

try:
    from selenium import webdriver
except ImportError:
    sys.exit("web_cpu: python3-selenium is missing (scripts/setup.sh --tests)")

TICKS = os.sysconf("SC_CLK_TCK")


FLOOR_PAGE = """<!doctype html><html><body><script>
window.go = async () => {
  const context = new AudioContext({ sampleRate: 32000, latencyHint: "playback" });
  await context.audioWorklet.addModule("floor-worklet.js");
  new AudioWorkletNode(context, "floor", { numberOfInputs: 0, outputChannelCount: [1] })
    .connect(context.destination);
  await context.resume();
  const element = new Audio("floor-silence.wav");  // the page's looping element, as it makes it
  element.loop = true;
  await element.play();
  return context.state;
};
</script></body></html>
"""
FLOOR_WORKLET = """class Floor extends AudioWorkletProcessor {
  process(inputs, outputs) { outputs[0][0].fill(0.001); return true; }
}
registerProcessor("floor", Floor);
"""


def silence_wav(rate, seconds):
    """The page's nearly silent loop: 16-bit mono, one step either side of 0."""
    frames = rate * seconds
    data = struct.pack(f"<{frames}h", *((-1, 1) * (frames // 2)))
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16) +
            b"data" + struct.pack("<I", len(data)) + data)


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(site):
    handler = functools.partial(Quiet, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=800,700",
                 "--autoplay-policy=no-user-gesture-required", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    return webdriver.Chrome(options=options)


def tree_cpu(root):
    """CPU seconds of `root` and every process under it."""
    parents, cpu = {}, {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        parents[int(name)] = int(fields[1])
        cpu[int(name)] = (int(fields[11]) + int(fields[12])) / TICKS
    total = 0.0
    for pid, seconds in cpu.items():
        p = pid
        while p and p != root:
            p = parents.get(p, 0)
        if p == root:
            total += seconds
    return total


def round_cpu(base, work, seconds, what):
    driver = browser(tempfile.mkdtemp(dir=work))
    try:
        if what == "floor":
            driver.get(base + "floor.html")
            state = driver.execute_async_script(
                "const done = arguments[0]; go().then(done, (e) => done(String(e)))")
            if state != "running":
                sys.exit(f"web_cpu: the floor page's sound did not start ({state})")
            time.sleep(3)
        else:
            driver.get(base + "?test&words=m1")
            wait_for(lambda: driver.execute_script(
                "return !!(window.velmoraTest && velmoraTest.ready)"), 10)
        if what == "programme":
            driver.execute_script("document.getElementById('night').click()")  # the sound
            wait_for(lambda: driver.execute_script("return velmoraTest.running() === 'running'"), 10)
            driver.execute_script("document.getElementById('night').click()")  # the night
            if not wait_for(lambda: "Healing" not in driver.execute_script(
                    "return velmoraTest.stateText()"), 30):
                sys.exit("web_cpu: the programme did not start")
        elif what == "idle":
            time.sleep(3)  # as long as the start takes, so each is measured settled
        root = driver.service.process.pid
        before, at = tree_cpu(root), time.monotonic()
        time.sleep(seconds)
        used = tree_cpu(root) - before
        return 100 * used / (time.monotonic() - at)
    finally:
        driver.quit()


def first_picture(base, work, loads):
    driver = browser(tempfile.mkdtemp(dir=work))
    times = []
    try:
        for _ in range(loads):
            driver.get(base + "?words=m1")
            wait_for(lambda: driver.execute_script(
                "return performance.getEntriesByName('velmora-first-picture').length"), 10)
            times.append(driver.execute_script(
                "return performance.getEntriesByName('velmora-first-picture')[0].startTime"))
    finally:
        driver.quit()
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--loads", type=int, default=5)
    parser.add_argument("site")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.site, "velmora-audio.wasm")):
        sys.exit(f"web_cpu: no web site in {args.site} (cmake --preset web && cmake --build --preset web)")

    print("== the site")
    total = gzipped = 0
    for name in sorted(os.listdir(args.site)):
        with open(os.path.join(args.site, name), "rb") as f:
            data = f.read()
        packed = len(gzip.compress(data, 9))
        total, gzipped = total + len(data), gzipped + packed
        print(f"  {name:28} {len(data):8,} bytes  {packed:8,} gzipped")
    print(f"  {'all':28} {total:8,} bytes  {gzipped:8,} gzipped ({gzipped / 1000:.0f} kB; target <= 400 kB)")

    work = tempfile.mkdtemp(prefix="velmora-web-bench-")
    served = os.path.join(work, "site")
    os.mkdir(served)
    for name in os.listdir(args.site):
        os.symlink(os.path.abspath(os.path.join(args.site, name)), os.path.join(served, name))
    for name, text in (("floor.html", FLOOR_PAGE), ("floor-worklet.js", FLOOR_WORKLET)):
        with open(os.path.join(served, name), "w", encoding="utf-8") as f:
            f.write(text)
    with open(os.path.join(served, "floor-silence.wav"), "wb") as f:
        f.write(silence_wav(32000, 2))
    server, base = serve(served)
    try:
        times = first_picture(base, work, args.loads)
        print(f"== first picture: median {statistics.median(times):.0f} ms from navigation "
              f"({', '.join(f'{t:.0f}' for t in times)}; target <= 1000 ms)")
        runs = {"idle": [], "floor": [], "programme": []}
        for n in range(args.rounds):
            for what, got in runs.items():
                got.append(round_cpu(base, work, args.seconds, what))
                print(f"  round {n + 1}: {what}: {got[-1]:.2f} % of one core", flush=True)
        idle, floor, busy = (statistics.median(runs[w]) for w in ("idle", "floor", "programme"))
        print(f"== CPU over {args.seconds:.0f} s, medians of {args.rounds} alternating rounds, "
              f"% of one core: idle page {idle:.2f}, sound floor {floor:.2f}, programme "
              f"{busy:.2f}: {busy - idle:+.2f} above the idle page (target <= +2), "
              f"{busy - floor:+.2f} above the sound floor ({busy / floor:.2f}x)")
    finally:
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
