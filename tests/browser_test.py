"""Shows the three pictures of a small run in Debian's headless Chromium and
checks that the browser draws every pixel in exactly the colour of the BMP's
own bytes. The spare byte of each pixel is 0: a browser that took it as alpha
would draw the pictures transparent, showing the page's background instead.

Usage: browser_test.py TOOL
TOOL is the built edgeseg. Run it with Debian's /usr/bin/python3 (Pillow
reads the screenshot). Skipped (exit 77) where chromium is not installed,
unless EDGESEG_REQUIRE_READERS is set, as CI sets it.
"""
import importlib.util
import os
import signal
import struct
import subprocess
import sys
import tempfile

from harness import need, run_tool

CHROMIUM = "/usr/bin/chromium"
# No colour of the map or of the label palette: each of those has a channel
# at 0 or 255.
BACKGROUND = (37, 91, 59)
MARGIN = 8  # around and between the pictures, in CSS pixels

# A ramp under five bright blocks of different values, 45 x 31: many colours
# of the map in the input, five regions (the palette's red, green, blue, cyan
# and magenta) and their outlines in the gradient.
W, H = 45, 31
BLOCKS = [(3, 3, 10, 9), (16, 4, 23, 12), (30, 6, 40, 14), (6, 18, 14, 27), (22, 19, 36, 27)]


def input_value(x, y):
    for i, (left, top, right, bottom) in enumerate(BLOCKS):
        if left <= x <= right and top <= y <= bottom:
            return 4095 - 300 * i
    return 40 * x + 13 * y


def read_bmp(path):
    """(width, height, rows of (red, green, blue) top row first, spare bytes)
    from the file's own bytes: a 32-bit uncompressed BMP, rows bottom-up."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if data[:2] != b"BM" or bits != 32 or compression != 0 or height <= 0:
        sys.exit(f"{path}: not a bottom-up 32-bit BI_RGB BMP")
    rows, spare = [], set()
    for y in range(height):
        start = offset + (height - 1 - y) * width * 4
        pixels = data[start:start + width * 4]
        rows.append([(pixels[i + 2], pixels[i + 1], pixels[i]) for i in range(0, len(pixels), 4)])
        spare.update(pixels[3::4])
    return width, height, rows, spare


def page(pictures):
    """The page's HTML: each picture at its natural size at (left, top)."""
    images = "\n".join(
        f'<img src="{os.path.basename(path)}" style="left: {left}px; top: {top}px" width="{width}" height="{height}">'
        for path, (left, top), (width, height) in pictures)
    red, green, blue = BACKGROUND
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><style>
html, body {{ margin: 0; background: rgb({red}, {green}, {blue}); zoom: 1; }}
img {{ position: absolute; image-rendering: pixelated; }}
</style></head><body>
{images}
</body></html>
"""


def screenshot(work, html, size):
    """Chromium's screenshot of the page at html, size (width, height)."""
    shot = os.path.join(work, "shot.png")
    command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               f"--user-data-dir={os.path.join(work, 'profile')}", "--force-device-scale-factor=1",
               f"--window-size={size[0]},{size[1]}", f"--screenshot={shot}", f"file://{html}"]
    # Its own session, so that a browser that hangs goes with all its helper
    # processes; its own home, so that it leaves nothing in the user's.
    browser = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True,
                               stdin=subprocess.DEVNULL, env=dict(os.environ, HOME=work))
    try:
        log, _ = browser.communicate(timeout=90)
    except subprocess.TimeoutExpired:
        log = None
    finally:
        # Any helper still left in the session, as after a hang.
        try:
            os.killpg(browser.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if log is None:
        browser.communicate()
        sys.exit("chromium took more than 90 s for the screenshot")
    if browser.returncode != 0 or not os.path.exists(shot):
        sys.exit(f"chromium, status {browser.returncode}, made no screenshot:\n{log.decode(errors='replace')}")
    from PIL import Image

    with Image.open(shot) as image:
        if image.size != size:
            sys.exit(f"the screenshot is {image.size}, not {size}")
        return image.convert("RGB").load()


def main():
    tool = sys.argv[1]
    need(os.access(CHROMIUM, os.X_OK), "Chromium", "chromium")
    need(importlib.util.find_spec("PIL"), "Pillow", "python3-pil")
    with tempfile.TemporaryDirectory() as work:
        name = os.path.join(work, "blocks.txt")
        with open(name, "w", encoding="ascii") as f:
            for y in range(H):
                f.write(" ".join(str(input_value(x, y)) for x in range(W)) + "\n")
        base = os.path.join(work, "blocks")
        run_tool(tool, name, base)

        pictures, left = [], MARGIN
        for kind in "In", "Reg", "Grad":
            path = f"{base}_{kind}.bmp"
            width, height, rows, spare = read_bmp(path)
            if spare != {0}:
                sys.exit(f"{path}: spare bytes {sorted(spare)}, not all 0")
            if BACKGROUND in {colour for row in rows for colour in row}:
                sys.exit(f"{path} uses the background's colour {BACKGROUND}")
            pictures.append((path, (left, MARGIN), (width, height), rows))
            left += width + MARGIN
        size = (left, H + 2 * MARGIN)
        html = os.path.join(work, "pictures.html")
        with open(html, "w", encoding="utf-8") as f:
            f.write(page([picture[:3] for picture in pictures]))
        shown = screenshot(work, html, size)

    # Every pixel of every picture, and the background in the margin just
    # outside each one: a picture drawn scaled, shifted or transparent fails.
    for path, (left, top), (width, height), rows in pictures:
        kind = os.path.basename(path)
        for y in range(-1, height + 1):
            for x in range(-1, width + 1):
                inside = 0 <= x < width and 0 <= y < height
                expected = rows[y][x] if inside else BACKGROUND
                seen = shown[left + x, top + y]
                if seen != expected:
                    sys.exit(f"{kind} pixel ({x}, {y}), at ({left + x}, {top + y}) in the screenshot: "
                             f"Chromium shows {seen}, the file holds {expected}")
        corners = [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]
        centres = [((x0 + x1) // 2, (y0 + y1) // 2) for x0, y0, x1, y1 in BLOCKS]
        chosen = corners + centres
        colours = len({colour for row in rows for colour in row})
        print(f"{kind}: all {width} x {height} pixels ({colours} colours) as in the file, e.g. "
              + ", ".join(f"({x}, {y}) {rows[y][x]}" for x, y in chosen))
    print(f"background {BACKGROUND} around each picture")


if __name__ == "__main__":
    main()
