"""Opens edgeseg's outputs with the readers that its users have and checks
that each sees the size and orientation that the tool meant.

Usage: readers_test.py READER TOOL
READER is one of pillow, imagemagick, numpy, roundtrip; TOOL is the built
edgeseg. Run it with Debian's /usr/bin/python3, the one that sees Debian's
python3-pil and python3-numpy. A reader that is not installed skips the test
(exit 77), unless EDGESEG_REQUIRE_READERS is set, as CI sets it: there a
missing reader fails the test.
"""
import importlib.util
import os
import subprocess
import sys
import tempfile

from harness import need, run_tool

# 23 x 17, dark except the top-left pixel and a block in the upper left
# quarter: odd sizes and no symmetry, so a flip or a transpose in a writer or
# a reader moves something that the checks look at.
W, H = 23, 17
BRIGHT = 4095
BLOCK = range(4, 13), range(3, 10)  # columns, rows
# The block eroded by one pixel is the one region; the lone pixel is too
# small to survive.
REGION = range(5, 12), range(4, 9)

# The two ends of the colour map, which spans 0 to 4095 in the input picture,
# and the colours of labels 0 and 1.
DARK_BLUE = (0, 0, 131)
DARK_RED = (127, 0, 0)
BLACK = (0, 0, 0)
RED = (255, 0, 0)


def grid(value, width=W, height=H):
    return [[value(x, y) for x in range(width)] for y in range(height)]


def input_value(x, y):
    on_block = x in BLOCK[0] and y in BLOCK[1]
    return BRIGHT if (x, y) == (0, 0) or on_block else 0


def expected_labels():
    return grid(lambda x, y: 1 if x in REGION[0] and y in REGION[1] else 0)


def flat_cells(image):
    """True where a cell's 2 x 2 block of pixels has no Roberts gradient."""
    return grid(lambda x, y: image[y][x] == image[y + 1][x + 1] and image[y][x + 1] == image[y + 1][x],
                len(image[0]) - 1, len(image) - 1)


def show(rows):
    # Colours by letter; flags and labels 0 and 1 as "." and "#".
    legend = {DARK_BLUE: "b", DARK_RED: "r", BLACK: "k", RED: "R", False: ".", True: "#"}
    return "\n".join("".join(legend.get(v, "?") for v in row) for row in rows)


def check(what, seen, expected):
    if seen != expected:
        sys.exit(f"{what}: the reader sees\n{show(seen)}\nbut the tool meant\n{show(expected)}")


def segment(tool, work):
    name = os.path.join(work, "pattern.txt")
    with open(name, "w", encoding="ascii") as f:
        for row in grid(input_value):
            f.write(" ".join(map(str, row)) + "\n")
    base = os.path.join(work, "pattern")
    run_tool(tool, name, base)
    return base


def read_sized(read, path, size):
    """The rows of (red, green, blue) that read(path) sees, top row first,
    after checking that it sees the picture at size (width, height)."""
    width, height, pixels = read(path)
    if (width, height) != size:
        sys.exit(f"{path}: the reader sees {width} x {height}, not {size[0]} x {size[1]}")
    return [pixels[y * width:(y + 1) * width] for y in range(height)]


def check_pictures(read, base):
    image = grid(input_value)
    check("_In.bmp", read_sized(read, base + "_In.bmp", (W, H)),
          grid(lambda x, y: DARK_RED if image[y][x] else DARK_BLUE))
    check("_Reg.bmp", read_sized(read, base + "_Reg.bmp", (W, H)),
          [[RED if v else BLACK for v in row] for row in expected_labels()])
    # The smallest gradient, 0, takes the map's first colour; the lone bright
    # pixel makes the top-left cell one of the others.
    rows = read_sized(read, base + "_Grad.bmp", (W - 1, H - 1))
    check("_Grad.bmp, flat cells", [[v == DARK_BLUE for v in row] for row in rows], flat_cells(image))


def read_with_pillow(path):
    from PIL import Image

    with Image.open(path) as picture:
        # 'RGBA' would mean the spare byte, 0, is taken as alpha: transparent.
        if (picture.format, picture.mode) != ("BMP", "RGB"):
            sys.exit(f"{path}: Pillow opens it as {picture.format} {picture.mode}, not BMP RGB")
        return picture.size + (list(picture.getdata()),)


# By full path: another convert earlier on PATH would prove nothing.
IDENTIFY, CONVERT = "/usr/bin/identify", "/usr/bin/convert"


def read_with_imagemagick(path):
    kind, width, height, channels = subprocess.run(
        [IDENTIFY, "-format", "%m %w %h %[channels]", path], capture_output=True, text=True, check=True).stdout.split()
    if (kind, channels) != ("BMP3", "srgb"):
        sys.exit(f"{path}: ImageMagick opens it as {kind} with channels {channels}, not BMP3 srgb")
    raw = subprocess.run([CONVERT, path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return int(width), int(height), [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def is_imagemagick():
    if not (os.access(IDENTIFY, os.X_OK) and os.access(CONVERT, os.X_OK)):
        return False
    return "ImageMagick" in subprocess.run([IDENTIFY, "-version"], capture_output=True, text=True).stdout


def main():
    reader, tool = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        if reader == "pillow":
            need(importlib.util.find_spec("PIL"), "Pillow")
            check_pictures(read_with_pillow, segment(tool, work))
        elif reader == "imagemagick":
            need(is_imagemagick(), "ImageMagick")
            check_pictures(read_with_imagemagick, segment(tool, work))
        elif reader == "numpy":
            need(importlib.util.find_spec("numpy"), "numpy")
            import numpy

            labels = numpy.loadtxt(segment(tool, work), dtype=numpy.uint16)
            if labels.shape != (H, W):
                sys.exit(f"numpy.loadtxt reads {labels.shape}, not (H, W) = {(H, W)}")
            check("labels", labels.tolist(), expected_labels())
        elif reader == "roundtrip":
            # The label text, given back as an input, is read as an image of
            # the same size whose values sit where they were written: the
            # second run's gradient is flat exactly where the labels are.
            need(importlib.util.find_spec("PIL"), "Pillow")
            again = os.path.join(work, "again")
            run_tool(tool, segment(tool, work), again)
            read_sized(read_with_pillow, again + "_In.bmp", (W, H))
            rows = read_sized(read_with_pillow, again + "_Grad.bmp", (W - 1, H - 1))
            check("labels read back, flat cells", [[v == DARK_BLUE for v in row] for row in rows],
                  flat_cells(expected_labels()))
        else:
            sys.exit(f"unknown reader {reader}")
    print(f"{reader}: sizes, orientation and values as written")


if __name__ == "__main__":
    main()
