#!/usr/bin/env python3
"""Finishes the web site in SITE (its page files and WebAssembly already
there): the app's icons and manifest, and the service worker that keeps
every file of the site for use offline.

  scripts/web_site.py TEMPLATE SITE

TEMPLATE is web/velmora-sw.js: its FILES and VERSION lines are filled in with
the site's files and a digest of their contents, so that a changed site is a
new worker (taken at the page's next start) and an unchanged one is not.
Nothing is fetched: the icons are drawn here.
"""
import hashlib
import json
import os
import struct
import sys
import zlib

BACKGROUND = (0x10, 0x10, 0x14)  # the page's
MOON = (0xf0, 0xe0, 0xa0)
RATE = (0x00, 0xd8, 0xd8)        # the chart's pulse rate (cyan)


def png(path, size, pixel):
    """Writes an RGB PNG of `size` x `size`, `pixel(x, y)` giving each colour."""
    rows = bytearray()
    for y in range(size):
        rows.append(0)
        for x in range(size):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def icon(size, safe):
    """A crescent moon over a descending staircase of the pulse rate, inside
    the central `safe` share of the square (a maskable icon's safe zone is
    the central 80 %), on the page's dark background to every edge."""
    def inside(u, v):
        # u, v in 0..1 across the safe square.
        if (u - 0.62) ** 2 + (v - 0.34) ** 2 < 0.22 ** 2 and \
           (u - 0.72) ** 2 + (v - 0.27) ** 2 >= 0.19 ** 2:
            return MOON
        # Four steps down, left to right, a line 6 % thick.
        steps = [(0.08, 0.30, 0.58), (0.30, 0.52, 0.68), (0.52, 0.74, 0.78), (0.74, 0.92, 0.88)]
        for i, (a, b, level) in enumerate(steps):
            if a <= u <= b and abs(v - level) <= 0.03:
                return RATE
            if i and abs(u - a) <= 0.03 and steps[i - 1][2] - 0.03 <= v <= level + 0.03:
                return RATE
        return None

    margin = (1 - safe) / 2
    samples = ((0.25, 0.25), (0.75, 0.25), (0.25, 0.75), (0.75, 0.75))

    def pixel(x, y):
        total = [0, 0, 0]
        for dx, dy in samples:
            u = ((x + dx) / size - margin) / safe
            v = ((y + dy) / size - margin) / safe
            colour = inside(u, v) if 0 <= u <= 1 and 0 <= v <= 1 else None
            for c in range(3):
                total[c] += (colour or BACKGROUND)[c]
        return bytes(round(t / len(samples)) for t in total)
    return pixel


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    template, site = sys.argv[1:]
    icons = [("velmora-192.png", 192, 0.9, "any"), ("velmora-512.png", 512, 0.9, "any"),
             ("velmora-maskable-512.png", 512, 0.72, "maskable")]
    for name, size, safe, _ in icons:
        png(os.path.join(site, name), size, icon(size, safe))
    manifest = {
        "name": "Velmora",
        "short_name": "Velmora",
        "description": "A night-long pulse programme to accompany sleep.",
        "start_url": "./",
        "scope": "./",
        "display": "standalone",
        "orientation": "any",
        "background_color": "#101014",
        "theme_color": "#101014",
        "icons": [{"src": name, "sizes": f"{size}x{size}", "type": "image/png", "purpose": purpose}
                  for name, size, _, purpose in icons],
    }
    with open(os.path.join(site, "velmora.webmanifest"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=2)
        f.write("\n")

    worker = "velmora-sw.js"
    files = sorted(name for name in os.listdir(site)
                   if os.path.isfile(os.path.join(site, name)) and name != worker)
    digest = hashlib.sha256()
    for name in files:
        digest.update(name.encode() + b"\0")
        with open(os.path.join(site, name), "rb") as f:
            digest.update(f.read())
    with open(template, encoding="utf-8") as f:
        text = f.read()
    text = text.replace('const VERSION = "";', f'const VERSION = "{digest.hexdigest()[:16]}";')
    text = text.replace("const FILES = [];", "const FILES = " + json.dumps(["./"] + files) + ";")
    if '"./"' not in text:
        print(f"web_site.py: {template} has no FILES line to fill in", file=sys.stderr)
        return 1
    with open(os.path.join(site, worker), "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
