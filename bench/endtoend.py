#!/usr/bin/env python3
"""Times edgeseg against the I/O floor on the benchmark images.

For each image: one warm-up run of each program, then --runs rounds that run
edgeseg and the floor alternately, so both see the same machine state. Prints
per image the median wall time of each, their ratio, megapixels per second and
edgeseg's peak resident memory in bytes per pixel (whole, and beyond the
input file's size). Images are generated once into BUILD/bench-images.
With --large, photographs of 16384 and 24576 pixels square (1.2 and 2.7 GB
of text) follow; they need about 14 GB of free disk, which is checked first.
Every run's output files are removed before the next run, so that no more
than one run's outputs take disk or page cache at a time. With --idle S
every timed run of the table waits S seconds first: on a virtual machine
that hands memory left free for a while back to its host, each program then
starts from the same state, instead of the floor finding the pages that
edgeseg has just freed still at hand.

With --gallery, times the shape gallery instead: pictures of --side squared
pixels whose shapes stress the steps differently, each in rounds alternated
with the photograph of the same pixel count. Prints per shape its median
time as a ratio to the photograph's and its peak memory in bytes per pixel
beyond the input file's size; with --base, the same for a second build,
timed in the same rounds. Python standard library only.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

IMAGES = [
    ("photo1024", "photo", 1024),
    ("photo2048", "photo", 2048),
    ("photo4096", "photo", 4096),
    ("spiral2048", "spiral", 2048),
    ("comb2048", "comb", 2048),
    ("lattice2048", "lattice", 2048),
]
LARGE_IMAGES = [
    ("photo16384", "photo", 16384),
    ("photo24576", "photo", 24576),
]
SUFFIXES = ["", "_In.bmp", "_Reg.bmp", "_Grad.bmp"]
# Bytes per pixel on disk: the text of a photograph, and one run's outputs
# (labels of about 2 bytes, three pictures of 4).
TEXT_BYTES_PER_PIXEL = 4.6
OUTPUT_BYTES_PER_PIXEL = 14.1
# Name, generator kind, and the shape as (width, height) for side**2 pixels.
GALLERY = [
    ("noise", "noise", lambda s: (s, s)),
    ("checker1", "checker1", lambda s: (s, s)),
    ("checker2", "checker2", lambda s: (s, s)),
    ("checker3", "checker3", lambda s: (s, s)),
    ("spiral2", "spiral2", lambda s: (s, s)),
    ("meander3", "meander3", lambda s: (s, s)),
    ("combs", "combs", lambda s: (s, s)),
    ("rows4", "noise", lambda s: (s * s // 4, 4)),
    ("cols4", "noise", lambda s: (4, s * s // 4)),
]


def timed(launcher, argv):
    """Runs argv through the launcher; returns (wall seconds, peak resident
    bytes, minor page faults). Fails loudly on any exit status but 0."""
    run = subprocess.run([launcher] + argv, capture_output=True, check=True)
    wall, peak, faults, status = run.stderr.split()[-4:]
    if int(status) != 0:
        sys.exit(f"{argv[0]} failed ({int(status)}): {run.stdout!r}")
    return float(wall), int(peak), int(faults)


def generated(generator, images_dir, name, kind, width, height):
    """The image's file, generated on first use."""
    image = os.path.join(images_dir, f"{name}-{width}x{height}.txt")
    if not os.path.exists(image):
        subprocess.run([generator, kind, str(width), str(height), image + ".part"], check=True)
        os.replace(image + ".part", image)
    return image


def remove_outputs(base):
    for s in SUFFIXES:
        if os.path.exists(base + s):
            os.remove(base + s)


def gallery(args, tools, generator, launcher, images_dir, out_dir):
    """Each shape against the photograph, in alternated rounds per tool."""
    side = args.side
    photo = generated(generator, images_dir, "photo", "photo", side, side)
    names = [g for g in GALLERY if not args.images or g[0] in args.images]
    columns = "".join(f" {label + ' ratio':>14} {label + ' B/px':>13}" for label, _ in tools)
    print(f"{'image':<9} {'width x height':>16} {'MB':>6}{columns}   (time vs photo{side}, "
          f"peak memory beyond the file; medians of {args.runs})")
    photo_peaks = {label: [] for label, _ in tools}
    for name, kind, shape in names:
        width, height = shape(side)
        image = generated(generator, images_dir, name, kind, width, height)
        file_bytes = os.path.getsize(image)
        pixels = width * height
        cells = []
        for label, tool in tools:
            base = os.path.join(out_dir, f"{name}_{label}")
            timed(launcher, [tool, photo, base])
            timed(launcher, [tool, image, base])
        times = {label: ([], [], []) for label, _ in tools}
        for round_ in range(args.runs):
            # Photo and shape swap places every round, and so do the tools,
            # so that neither gains from the order.
            order = tools if round_ % 2 == 0 else tools[::-1]
            for label, tool in order:
                base = os.path.join(out_dir, f"{name}_{label}")
                pair = [(photo, 0), (image, 1)] if round_ % 2 == 0 else [(image, 1), (photo, 0)]
                for path, which in pair:
                    wall, peak, _ = timed(launcher, [tool, path, base])
                    times[label][which].append(wall)
                    if which == 1:
                        times[label][2].append(peak)
                    else:
                        photo_peaks[label].append(peak)
        for label, _ in tools:
            photo_times, shape_times, peaks = times[label]
            ratio = statistics.median(shape_times) / statistics.median(photo_times)
            cells.append(f" {ratio:14.2f} {(max(peaks) - file_bytes) / pixels:13.1f}")
            remove_outputs(os.path.join(out_dir, f"{name}_{label}"))
        print(f"{name:<9} {f'{width} x {height}':>16} {file_bytes / 1e6:6.1f}{''.join(cells)}", flush=True)
    photo_bytes = os.path.getsize(photo)
    cells = "".join(f" {1.0:14.2f} {(max(photo_peaks[label]) - photo_bytes) / (side * side):13.1f}"
                    for label, _ in tools)
    print(f"{'photo':<9} {f'{side} x {side}':>16} {photo_bytes / 1e6:6.1f}{cells}")


def largest_label(name):
    """The largest number in a label file, read line by line to keep this
    process small."""
    with open(name, "rb") as labels:
        return max(max(map(int, line.split())) for line in labels)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--images", nargs="*", help="names to run (default: all)")
    parser.add_argument("--tool", help="the edgeseg to time (default: the one in --build), "
                        "for example an older build to compare with")
    parser.add_argument("--gallery", action="store_true",
                        help="time the shape gallery against the photograph instead")
    parser.add_argument("--side", type=int, default=4096,
                        help="with --gallery: every picture has side**2 pixels (default 4096)")
    parser.add_argument("--base", help="with --gallery: a second edgeseg timed in the same rounds, "
                        "for example the build before a change")
    parser.add_argument("--idle", type=float, default=0,
                        help="seconds to wait before each timed run of the table (default 0)")
    parser.add_argument("--large", action="store_true",
                        help="add photographs of 16384 and 24576 pixels square (about 14 GB of disk)")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    if args.idle < 0:
        parser.error("--idle must not be negative")
    if args.side < 64 or args.side % 2 != 0:
        parser.error("--side must be even and at least 64")

    tool = args.tool or os.path.join(args.build, "edgeseg")
    floor = os.path.join(args.build, "bench", "io_floor")
    generator = os.path.join(args.build, "bench", "make_bench_image")
    launcher = os.path.join(args.build, "bench", "timed_run")
    images_dir = os.path.join(args.build, "bench-images")
    out_dir = os.path.join(args.build, "bench-out")
    os.makedirs(images_dir, exist_ok=True)
    os.makedirs(out_dir, exist_ok=True)
    if args.gallery:
        tools = ([("base", args.base)] if args.base else []) + [("new" if args.base else "edgeseg", tool)]
        gallery(args, tools, generator, launcher, images_dir, out_dir)
        return

    candidates = IMAGES + (LARGE_IMAGES if args.large else [])
    selected = [i for i in candidates if not args.images or i[0] in args.images]
    needed = sum(TEXT_BYTES_PER_PIXEL * side * side for name, _, side in selected
                 if not os.path.exists(os.path.join(images_dir, name + ".txt")))
    needed += max(OUTPUT_BYTES_PER_PIXEL * side * side for _, _, side in selected)
    usage = os.statvfs(images_dir)
    free = usage.f_bavail * usage.f_frsize
    if needed > free:
        sys.exit(f"these images need about {needed / 1e9:.0f} GB of free disk in {images_dir}; "
                 f"{free / 1e9:.0f} GB are free")
    header = (f"{'image':<12} {'MB':>6} {'edgeseg s':>10} {'floor s':>8} {'ratio':>6} {'MP/s':>7} "
              f"{'RSS B/px':>9} {'-file':>6} {'regions':>8}  spread: edgeseg / floor")
    print(header)
    for name, kind, side in selected:
        image = os.path.join(images_dir, name + ".txt")
        if not os.path.exists(image):
            subprocess.run([generator, kind, str(side), image + ".part"], check=True)
            os.replace(image + ".part", image)
        file_bytes = os.path.getsize(image)
        pixels = side * side

        tool_base = os.path.join(out_dir, name)
        floor_base = os.path.join(out_dir, name + "_floor")
        timed(launcher, [tool, image, tool_base])
        sizes = [str(os.path.getsize(tool_base + s)) for s in SUFFIXES]
        regions = largest_label(tool_base)
        remove_outputs(tool_base)
        timed(launcher, [floor, image, floor_base] + sizes)
        remove_outputs(floor_base)

        tool_times, floor_times, peaks = [], [], []
        for _ in range(args.runs):
            time.sleep(args.idle)
            wall, peak, _ = timed(launcher, [tool, image, tool_base])
            remove_outputs(tool_base)
            tool_times.append(wall)
            peaks.append(peak)
            time.sleep(args.idle)
            floor_times.append(timed(launcher, [floor, image, floor_base] + sizes)[0])
            remove_outputs(floor_base)
        tool_median = statistics.median(tool_times)
        floor_median = statistics.median(floor_times)
        peak = max(peaks)
        spread = f"{min(tool_times):.3f}-{max(tool_times):.3f} / {min(floor_times):.3f}-{max(floor_times):.3f}"
        print(f"{name:<12} {file_bytes / 1e6:6.1f} {tool_median:10.3f} {floor_median:8.3f} "
              f"{tool_median / floor_median:6.2f} {pixels / 1e6 / tool_median:7.1f} "
              f"{peak / pixels:9.1f} {(peak - file_bytes) / pixels:6.1f} {regions:8d}  {spread}", flush=True)


if __name__ == "__main__":
    main()
