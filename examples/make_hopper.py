#!/usr/bin/env python3
"""Writes examples/hopper.txt: a real photograph as a 12-bit grey text
image, 256 x 300, one row per line.

The photograph is Grace Hopper's official U.S. Navy portrait, a work of the
U.S. government and so in the public domain. Debian ships it in the package
python-matplotlib-data (under matplotlib's licence, see its copyright file)
as a 512 x 600 colour JPEG. ImageMagick (Debian: imagemagick) turns it grey
and halves it, which keeps the text near 340 kB.

Usage: make_hopper.py [PHOTO [OUTPUT]]
  PHOTO defaults to the file that python-matplotlib-data installs,
  OUTPUT to hopper.txt beside this script.
"""
import os
import subprocess
import sys

PHOTO = "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg"
# Debian's ImageMagick by full path: another convert may come first on PATH.
CONVERT = "/usr/bin/convert"
TOP = 4095  # the tool shows input values 0 to 4095


def main():
    photo = sys.argv[1] if len(sys.argv) > 1 else PHOTO
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "hopper.txt")
    if not os.path.exists(photo):
        sys.exit(f"{photo} is missing: apt-get install python-matplotlib-data")
    # Plain PGM: a P2 header (width, height, largest value) and the samples
    # as decimal text, with # comments that run to the line end.
    pgm = subprocess.run([CONVERT, photo, "-colorspace", "Gray", "-resize", "50%", "-depth", "16",
                          "-compress", "none", "pgm:-"], capture_output=True, text=True, check=True).stdout
    words = [w for line in pgm.splitlines() for w in line.split("#")[0].split()]
    if words[0] != "P2":
        sys.exit("ImageMagick did not write a plain PGM")
    width, height, largest = map(int, words[1:4])
    samples = [(int(w) * TOP + largest // 2) // largest for w in words[4:]]
    if len(samples) != width * height:
        sys.exit(f"{len(samples)} samples for {width} x {height}")
    with open(out, "w", encoding="ascii", newline="\n") as f:
        for y in range(height):
            f.write(" ".join(map(str, samples[y * width:(y + 1) * width])) + "\n")


if __name__ == "__main__":
    main()
