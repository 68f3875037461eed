#!/usr/bin/env python3
"""Times edgeseg against the I/O floor on the benchmark images.

For each image: one warm-up run of each program, then --runs rounds that run
edgeseg and the floor alternately, so both see the same machine state. Prints
per image the median wall time of each, their ratio, megapixels per second and
edgeseg's peak resident memory in bytes per pixel (whole, and beyond the
input file's size). Images are generated once into BUILD/bench-images.
Python standard library only.
"""
import argparse
import os
import statistics
import subprocess
import sys

IMAGES = [
    ("photo1024", "photo", 1024),
    ("photo2048", "photo", 2048),
    ("photo4096", "photo", 4096),
    ("spiral2048", "spiral", 2048),
    ("comb2048", "comb", 2048),
    ("lattice2048", "lattice", 2048),
]
SUFFIXES = ["", "_In.bmp", "_Reg.bmp", "_Grad.bmp"]


def timed(launcher, argv):
    """Runs argv through the launcher; returns (wall seconds, peak resident
    bytes). Fails loudly on any exit status but 0."""
    run = subprocess.run([launcher] + argv, capture_output=True, check=True)
    wall, peak, status = run.stderr.split()[-3:]
    if int(status) != 0:
        sys.exit(f"{argv[0]} failed ({int(status)}): {run.stdout!r}")
    return float(wall), int(peak)


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
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    tool = args.tool or os.path.join(args.build, "edgeseg")
    floor = os.path.join(args.build, "bench", "io_floor")
    generator = os.path.join(args.build, "bench", "make_bench_image")
    launcher = os.path.join(args.build, "bench", "timed_run")
    images_dir = os.path.join(args.build, "bench-images")
    out_dir = os.path.join(args.build, "bench-out")
    os.makedirs(images_dir, exist_ok=True)
    os.makedirs(out_dir, exist_ok=True)

    selected = [i for i in IMAGES if not args.images or i[0] in args.images]
    header = f"{'image':<12} {'MB':>6} {'edgeseg s':>10} {'floor s':>8} {'ratio':>6} {'MP/s':>7} {'RSS B/px':>9} {'-file':>6} {'regions':>8}"
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
        timed(launcher, [floor, image, floor_base] + sizes)

        tool_times, floor_times, peaks = [], [], []
        for _ in range(args.runs):
            wall, peak = timed(launcher, [tool, image, tool_base])
            tool_times.append(wall)
            peaks.append(peak)
            floor_times.append(timed(launcher, [floor, image, floor_base] + sizes)[0])
        tool_median = statistics.median(tool_times)
        floor_median = statistics.median(floor_times)
        peak = max(peaks)
        print(f"{name:<12} {file_bytes / 1e6:6.1f} {tool_median:10.3f} {floor_median:8.3f} "
              f"{tool_median / floor_median:6.2f} {pixels / 1e6 / tool_median:7.1f} "
              f"{peak / pixels:9.1f} {(peak - file_bytes) / pixels:6.1f} {regions:8d}", flush=True)
        for base in (tool_base, floor_base):
            for s in SUFFIXES:
                os.remove(base + s)


if __name__ == "__main__":
    main()
