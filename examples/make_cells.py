#!/usr/bin/env python3
"""Writes examples/cells.txt: a 12-bit grey image of bright cells on an
unevenly lit background with sensor noise, one row per line.

Usage: make_cells.py [OUTPUT]   (default: cells.txt beside this script)
The random generator is seeded, so the file is the same on every run.
"""
import math
import os
import random
import sys

WIDTH, HEIGHT = 320, 240
SEED = 20261208

# (centre x, centre y, radius x, radius y, angle in degrees, brightness)
CELLS = [
    (60, 55, 34, 24, 20, 2600),
    (165, 50, 26, 26, 0, 3300),
    (255, 70, 40, 22, -35, 2200),
    (85, 165, 30, 42, 10, 3000),
    (200, 170, 46, 30, 60, 2800),
    (285, 190, 18, 16, 0, 3600),
    (140, 115, 12, 10, 0, 2400),
]
# A ring: bright wall, dark middle; the tool fills what the wall encloses.
RING = (30, 205, 20, 11, 3100)


def smoothstep(edge, softness, d):
    """1 well inside an edge at distance d, 0 well outside, a soft ramp between."""
    t = min(1.0, max(0.0, (edge - d) / softness + 0.5))
    return t * t * (3 - 2 * t)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "cells.txt")
    rng = random.Random(SEED)
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            # Light falls off from the top-left corner, with a slow ripple.
            v = 700 + 250 * (1 - (x + y) / (WIDTH + HEIGHT)) + 40 * math.sin(x / 37.0) * math.cos(y / 29.0)
            for cx, cy, rx, ry, angle, level in CELLS:
                a = math.radians(angle)
                dx, dy = x - cx, y - cy
                u = (dx * math.cos(a) + dy * math.sin(a)) / rx
                w = (-dx * math.sin(a) + dy * math.cos(a)) / ry
                d = (math.hypot(u, w) - 1) * min(rx, ry)
                inside = smoothstep(0, 2.0, d)
                # Each cell is a little brighter at its nucleus.
                v += inside * (level - 700 + 300 * math.exp(-(u * u + w * w) * 3))
            rx0, ry0, outer, inner, level = RING
            r = math.hypot(x - rx0, y - ry0)
            v += smoothstep(0, 1.5, r - outer) * (1 - smoothstep(0, 1.5, r - inner)) * (level - 700)
            v += rng.gauss(0, 6)
            row.append(str(max(0, min(4095, int(round(v))))))
        rows.append(" ".join(row))
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
