#!/usr/bin/env python3
"""velmora on a Wayland display, end to end.

  wayland_e2e.py VELMORA

In a headless sway of the test's own (run as nobody when the test is root:
sway refuses root), velmora is started with SDL_VIDEODRIVER=wayland on an
output of scale 2. It must not crash, and must show its picture: a window of
288 x 272 logical pixels whose screenshot is 576 x 544, every pixel a 2 x 2
square, the squares the picture the same window shows at scale 1 (the chart,
which stands still while healing plays). With VELMORA_SCALE=2 the window is
576 x 544 logical. Exit 77 when sway, grim or ImageMagick is missing.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from x_session import Session, wait_for

TITLE = "VelmoraSystem 132"
OUTPUT = "HEADLESS-1"
CHART = "260x90+20+100"  # the chart's part of the 288 x 272 picture

session_ = Session()
check = session_.check


def as_sway_user():
    """setpriv's prefix that runs a command as nobody when this is root."""
    if os.geteuid() != 0:
        return []
    return ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def main(velmora):
    for tool in ("sway", "swaymsg", "grim", "convert", "compare") + (
            ("setpriv",) if os.geteuid() == 0 else ()):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed")
            return 77
    work = tempfile.mkdtemp(prefix="velmora-wayland-")
    try:
        runtime = os.path.join(work, "runtime")
        os.mkdir(runtime, 0o700)
        config = os.path.join(work, "config")
        with open(config, "w") as f:
            f.write(f"output {OUTPUT} resolution 1280x960 scale 2\n"
                    "default_border none\n"
                    f'for_window [title="^{TITLE}$"] floating enable\n')
        if os.geteuid() == 0:
            os.chmod(work, 0o755)
            os.chown(runtime, 65534, 65534)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WLR_BACKENDS="headless",
                   WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        session_.start([*as_sway_user(), "sway", "-c", config], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        names = lambda: os.listdir(runtime)
        if not wait_for(lambda: any(n.startswith("sway-ipc.") for n in names()) and
                        any(n.startswith("wayland-") and n[8:].isdigit() for n in names())):
            check("sway starts", False)
            return 1
        env["WAYLAND_DISPLAY"] = next(n for n in names() if n.startswith("wayland-") and
                                      n[8:].isdigit())
        env["SWAYSOCK"] = os.path.join(runtime, next(n for n in names()
                                                     if n.startswith("sway-ipc.")))

        def sway(*args):
            return subprocess.run(["swaymsg", *args], env=env, capture_output=True, text=True)

        def window_rect():
            """velmora's window's logical rectangle, or None."""
            def walk(node):
                if node.get("name") == TITLE:
                    return node["rect"]
                for child in node.get("nodes", []) + node.get("floating_nodes", []):
                    found = walk(child)
                    if found:
                        return found
                return None
            tree = sway("-t", "get_tree")
            return walk(json.loads(tree.stdout)) if tree.returncode == 0 else None

        def shot(name, rect, scale):
            """The window's pixels on the output, as a PNG of its own."""
            path = os.path.join(work, name)
            subprocess.run(["grim", "-t", "png", os.path.join(work, "output.png")], env=env,
                           check=True)
            crop = (f"{rect['width'] * scale}x{rect['height'] * scale}"
                    f"+{rect['x'] * scale}+{rect['y'] * scale}")
            subprocess.run(["convert", os.path.join(work, "output.png"), "-crop", crop,
                            "+repage", path], check=True)
            return path

        def differing(a, b):
            r = subprocess.run(["compare", "-metric", "AE", a, b, "null:"],
                               capture_output=True, text=True)
            return r.stderr.strip()

        def size(path):
            return subprocess.run(["identify", "-format", "%wx%h", path],
                                  capture_output=True, text=True).stdout

        venv = dict(env, SDL_VIDEODRIVER="wayland", SDL_AUDIODRIVER="none")
        p = session_.start([velmora, "m1"], env=venv, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        wait_for(lambda: window_rect() is not None, 20)
        rect = window_rect()
        check("scale 2: the window comes", rect is not None, p.poll())
        if rect is None:
            return 1
        check("scale 2: 288 x 272 logical pixels", (rect["width"], rect["height"]) == (288, 272),
              rect)
        time.sleep(1.5)  # for the first pictures to reach the output
        two = shot("two.png", rect, 2)
        check("scale 2: the window's screenshot is 576 x 544", size(two) == "576x544", size(two))
        colours = subprocess.run(["identify", "-format", "%k", two], capture_output=True,
                                 text=True).stdout
        check("scale 2: the picture shows (its many colours)", colours.isdigit() and
              int(colours) > 8, colours)
        squares = os.path.join(work, "squares.png")
        subprocess.run(["convert", two, "-sample", "50%", "-sample", "200%", squares], check=True)
        check("scale 2: each pixel is a 2 x 2 square", differing(two, squares) == "0",
              differing(two, squares))
        half = os.path.join(work, "half.png")
        subprocess.run(["convert", two, "-sample", "50%", "-crop", CHART, "+repage", half],
                       check=True)

        check("the output's scale changes to 1", sway("output", OUTPUT, "scale", "1").returncode == 0)
        time.sleep(1.5)
        one = shot("one.png", window_rect(), 1)
        chart = os.path.join(work, "chart.png")
        subprocess.run(["convert", one, "-crop", CHART, "+repage", chart], check=True)
        check("scale 1: the screenshot is 288 x 272", size(one) == "288x272", size(one))
        check("the squares are the 1x picture", differing(chart, half) == "0",
              differing(chart, half))
        check("velmora still plays", p.poll() is None, p.poll())
        p.terminate()
        p.wait(10)

        p = session_.start([velmora, "m1"], env=dict(venv, VELMORA_SCALE="2"),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: window_rect() is not None, 20)
        rect = window_rect()
        check("VELMORA_SCALE=2: 576 x 544 logical pixels",
              rect is not None and (rect["width"], rect["height"]) == (576, 544), rect)
        p.terminate()
        p.wait(10)
    finally:
        session_.stop_all()
        shutil.rmtree(work, ignore_errors=True)
    return session_.exit_code()


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
