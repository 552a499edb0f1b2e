#!/usr/bin/env python3
"""Finds the programme's first pulses, as a render wrote them, in captured audio.

find_pulses.py RENDER.raw PLAYED.raw [PULSES]: the render's first PULSES
pulses (20 by default, 1776 samples apart for the default night), from the
sample before the first that is not silence, must occur byte for byte in what
the device played. Exits 0 when found.
"""
import sys

render = open(sys.argv[1], "rb").read()
played = open(sys.argv[2], "rb").read()
pulses = int(sys.argv[3]) if len(sys.argv) > 3 else 20
first = next(i for i, b in enumerate(render) if b != 128)
at = played.find(render[first - 1:first - 1 + pulses * 1776])
print(f"  first pulse at sample {first} of the render; found in the played audio at {at}"
      f" of {len(played)}")
sys.exit(0 if at >= 0 else 1)
