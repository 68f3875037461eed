#!/usr/bin/env python3
"""Writes the designed golden inputs, tests/golden/<case>/input.txt, small
images that each reach a path the bundled examples do not:

  ramp           a plane 100x + 50y: every gradient is sqrt(25000) as a float,
                 so the variance rounds below zero and the run reports
                 "sqrt: DOMAIN error" on standard error; no region survives.
  shapes         a ring whose hole is filled, a bar of values past 65535, an
                 L of values past 4095, two squares meeting at a corner, which
                 the erosion parts, and a speck too small to keep.
  twenty_blocks  20 blocks of differing brightness: labels of two digits and
                 a palette that wraps, written with CR LF line ends, mixed
                 separators and text after the last line feed.

Usage: make_inputs.py   (writes beside this script; no randomness)
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def ramp():
    return [[100 * x + 50 * y for x in range(24)] for y in range(18)]


def shapes():
    W, H = 40, 34
    rows = [[200] * W for _ in range(H)]

    def fill(x0, x1, y0, y1, value):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                rows[y][x] = value

    for y in range(H):
        for x in range(W):
            d2 = (x - 10) ** 2 + (y - 10) ** 2
            if 16 <= d2 <= 64:
                rows[y][x] = 3000
    fill(24, 36, 3, 9, 70000)   # read as 65535
    fill(3, 17, 26, 30, 5000)   # shown as 4095
    fill(3, 8, 21, 30, 5000)
    fill(22, 27, 14, 19, 2500)  # two squares meeting at one corner
    fill(28, 33, 20, 25, 1500)
    fill(35, 37, 28, 30, 2000)  # 3 x 3: eroded away
    return rows


def twenty_blocks():
    W, H = 42, 34
    rows = [[0] * W for _ in range(H)]
    for i in range(20):
        bx, by = 2 + 8 * (i % 5), 2 + 8 * (i // 5)
        for y in range(by, by + 6):
            for x in range(bx, bx + 6):
                rows[y][x] = 300 + 190 * i
    return rows


def write(case, rows, separators=(" ",), line_end="\n", tail=""):
    text = []
    for y, row in enumerate(rows):
        parts = []
        for x, value in enumerate(row):
            if x:
                parts.append(separators[(x + y) % len(separators)])
            parts.append(str(value))
        text.append("".join(parts) + line_end)
    os.makedirs(os.path.join(HERE, case), exist_ok=True)
    with open(os.path.join(HERE, case, "input.txt"), "w", newline="") as f:
        f.write("".join(text) + tail)


write("ramp", ramp())
write("shapes", shapes())
write("twenty_blocks", twenty_blocks(), separators=(" ", "\t", ",", " ; "), line_end="\r\n",
      tail="99999999999 not read")
