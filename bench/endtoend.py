#!/usr/bin/env python3
"""Times edgeseg against the I/O floor on the benchmark images.

For each image: one warm-up run of each program, then --runs rounds that run
edgeseg and the floor alternately, so both see the same machine state. Prints
per image the median wall time of each, their ratio, megapixels per second,
edgeseg's peak resident memory in bytes per pixel (whole, and beyond the
input file's size) against the memory it aims at, and the median minor page
faults of each. With --base, an older edgeseg runs in the same rounds and
gets its own row against the same floor. Images are generated once into
BUILD/bench-images.
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
timed in the same rounds.

With --batch, times batches the way most users run the tool: N runs of one
image, as many at a time as there are cores, each into its own outputs; the
floor runs the same way, and batches of each alternate for --runs rounds.
Prints the median wall time of a whole batch for each and their ratio.
Python standard library only.
"""
import argparse
import concurrent.futures
import os
import statistics
import subprocess
import sys
import time

IMAGES = [
    ("photo512", "photo", 512),
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
# --batch without --images: the image and the number of runs of each batch.
BATCHES = [("photo1024", 64), ("photo512", 128)]
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


def memory_limit(file_bytes, pixels):
    """The peak resident memory edgeseg aims at: the input file and 2.5 bytes
    a pixel, or 7 bytes a pixel if that is more, and 8 MiB for the program,
    its libraries and its stack."""
    return max(file_bytes + 2.5 * pixels, 7 * pixels) + 8 * 2**20


def limit_cell(peak, file_bytes, pixels, beyond=0):
    """The limit in bytes per pixel beyond the given bytes, and whether the
    peak kept to it."""
    limit = memory_limit(file_bytes, pixels)
    return f"{(limit - beyond) / pixels:6.1f} {'ok' if peak <= limit else 'OVER':<4}"


def alternated(runs, programs, run):
    """Calls run(label, what) for every program once a round, in an order
    reversed every other round so that none gains from its place; returns
    each label's results in a list."""
    results = {label: [] for label, _ in programs}
    for round_ in range(runs):
        for label, what in programs if round_ % 2 == 0 else programs[::-1]:
            results[label].append(run(label, what))
    return results


def build_name(label):
    return label if label == "edgeseg" else f"edgeseg-{label}"


def spread(times):
    return f"{min(times):.3f}-{max(times):.3f}"


def check_disk(directory, needed):
    usage = os.statvfs(directory)
    free = usage.f_bavail * usage.f_frsize
    if needed > free:
        sys.exit(f"this needs about {needed / 1e9:.1f} GB of free disk in {directory}; "
                 f"{free / 1e9:.1f} GB are free")


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
    columns = "".join(f" {label + ' ratio':>14} {label + ' B/px':>13} {'limit':>6}{'':5} {label + ' faults':>14}"
                      for label, _ in tools)
    print(f"{'image':<9} {'width x height':>16} {'MB':>6}{columns}   (time vs photo{side}, "
          f"peak memory and its limit beyond the file; medians of {args.runs})")

    def cells(label, ratio, results, file_bytes, pixels):
        peak = max(r[1] for r in results)
        faults = statistics.median_low(r[2] for r in results)
        return (f" {ratio:14.2f} {(peak - file_bytes) / pixels:13.1f} "
                f"{limit_cell(peak, file_bytes, pixels, file_bytes)} {faults:14d}")

    photo_results = {label: [] for label, _ in tools}
    for name, kind, shape in names:
        width, height = shape(side)
        image = generated(generator, images_dir, name, kind, width, height)
        file_bytes = os.path.getsize(image)
        programs = []
        for label, tool in tools:
            base = os.path.join(out_dir, f"{name}_{label}")
            programs += [((label, "photo"), [tool, photo, base]), ((label, "shape"), [tool, image, base])]
        for _, argv in programs:
            timed(launcher, argv)
        # The whole order reverses every other round: photo and shape swap
        # places, and so do the tools, so that neither gains from the order.
        results = alternated(args.runs, programs, lambda _, argv: timed(launcher, argv))
        row = ""
        for label, _ in tools:
            photo_results[label] += results[label, "photo"]
            ratio = (statistics.median(r[0] for r in results[label, "shape"])
                     / statistics.median(r[0] for r in results[label, "photo"]))
            row += cells(label, ratio, results[label, "shape"], file_bytes, width * height)
            remove_outputs(os.path.join(out_dir, f"{name}_{label}"))
        print(f"{name:<9} {f'{width} x {height}':>16} {file_bytes / 1e6:6.1f}{row}", flush=True)
    photo_bytes = os.path.getsize(photo)
    row = "".join(cells(label, 1.0, photo_results[label], photo_bytes, side * side) for label, _ in tools)
    print(f"{'photo':<9} {f'{side} x {side}':>16} {photo_bytes / 1e6:6.1f}{row}")


def named_image(generator, images_dir, name):
    """A table image's file, generated on first use."""
    kind, side = next((k, s) for n, k, s in IMAGES + LARGE_IMAGES if n == name)
    image = os.path.join(images_dir, name + ".txt")
    if not os.path.exists(image):
        subprocess.run([generator, kind, str(side), image + ".part"], check=True)
        os.replace(image + ".part", image)
    return image, side * side


def output_sizes(launcher, tools, image, out_dir):
    """Runs each tool once on the image (a warm-up); returns the sizes of
    the last tool's four outputs, which the floor writes, and each tool's
    largest label."""
    regions = {}
    for label, tool in tools:
        base = os.path.join(out_dir, f"sizes_{label}")
        timed(launcher, [tool, image, base])
        sizes = [str(os.path.getsize(base + s)) for s in SUFFIXES]
        regions[label] = largest_label(base)
        remove_outputs(base)
    return sizes, regions


def table(args, tools, floor, generator, launcher, images_dir, out_dir):
    """Each image: the tools and the floor, alternated in every round."""
    candidates = IMAGES + (LARGE_IMAGES if args.large else [])
    selected = [i for i in candidates if not args.images or i[0] in args.images]
    needed = sum(TEXT_BYTES_PER_PIXEL * side * side for name, _, side in selected
                 if not os.path.exists(os.path.join(images_dir, name + ".txt")))
    check_disk(images_dir, needed + max(OUTPUT_BYTES_PER_PIXEL * side * side for _, _, side in selected))
    print(f"{'image':<12} {'build':<12} {'MB':>6} {'edgeseg s':>10} {'floor s':>8} {'ratio':>6} {'MP/s':>7} "
          f"{'RSS B/px':>9} {'-file':>6} {'limit B/px':>11} {'faults':>11} {'regions':>8}  "
          f"spread: edgeseg / floor   (faults: edgeseg / floor)")

    def run(_, argv):
        time.sleep(args.idle)
        result = timed(launcher, argv)
        remove_outputs(argv[2])
        return result

    for name, _, _ in selected:
        image, pixels = named_image(generator, images_dir, name)
        file_bytes = os.path.getsize(image)
        sizes, regions = output_sizes(launcher, tools, image, out_dir)
        programs = [(label, [tool, image, os.path.join(out_dir, f"{name}_{label}")]) for label, tool in tools]
        programs.append(("floor", [floor, image, os.path.join(out_dir, f"{name}_floor")] + sizes))
        run(None, programs[-1][1])
        results = alternated(args.runs, programs, run)
        floor_times = [r[0] for r in results["floor"]]
        floor_median = statistics.median(floor_times)
        floor_faults = statistics.median_low(r[2] for r in results["floor"])
        for label, _ in tools:
            times = [r[0] for r in results[label]]
            median = statistics.median(times)
            peak = max(r[1] for r in results[label])
            faults = f"{statistics.median_low(r[2] for r in results[label])}/{floor_faults}"
            print(f"{name:<12} {build_name(label):<12} {file_bytes / 1e6:6.1f} {median:10.3f} {floor_median:8.3f} "
                  f"{median / floor_median:6.2f} {pixels / 1e6 / median:7.1f} {peak / pixels:9.1f} "
                  f"{(peak - file_bytes) / pixels:6.1f} {limit_cell(peak, file_bytes, pixels):>11} "
                  f"{faults:>11} {regions[label]:8d}  {spread(times)} / {spread(floor_times)}", flush=True)


def batch(args, tools, floor, generator, launcher, images_dir, out_dir):
    """Batches of runs of one image, as many at a time as there are cores,
    each tool's batch alternated with the floor's."""
    workers = os.cpu_count() or 1
    chosen = [(name, args.batch_count or dict(BATCHES).get(name, 64))
              for name in args.images or [n for n, _ in BATCHES]]
    print(f"{'image':<12} {'build':<12} {'runs':>5} {'at once':>7} {'edgeseg s':>10} {'floor s':>8} "
          f"{'ratio':>6} {'faults':>11}  spread: edgeseg / floor   (faults per run: edgeseg / floor; "
          f"medians of {args.runs} batches)")
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for name, count in chosen:
            image, pixels = named_image(generator, images_dir, name)
            check_disk(out_dir, count * OUTPUT_BYTES_PER_PIXEL * pixels)
            sizes, _ = output_sizes(launcher, tools, image, out_dir)
            programs = [(label, [tool, image]) for label, tool in tools] + [("floor", [floor, image])]
            timed(launcher, programs[-1][1] + [os.path.join(out_dir, "sizes_floor")] + sizes)
            remove_outputs(os.path.join(out_dir, "sizes_floor"))

            def run(label, command):
                # Every run of a batch has outputs of its own, all kept
                # until the batch is done, as a user's batch would keep them.
                bases = [os.path.join(out_dir, f"batch_{label}_{i}") for i in range(count)]
                extra = sizes if label == "floor" else []
                start = time.perf_counter()
                results = list(pool.map(lambda base: timed(launcher, command + [base] + extra), bases))
                wall = time.perf_counter() - start
                for base in bases:
                    remove_outputs(base)
                return wall, [r[2] for r in results]

            results = alternated(args.runs, programs, run)
            floor_times = [r[0] for r in results["floor"]]
            floor_median = statistics.median(floor_times)
            floor_faults = statistics.median_low(f for r in results["floor"] for f in r[1])
            for label, _ in tools:
                times = [r[0] for r in results[label]]
                median = statistics.median(times)
                faults = f"{statistics.median_low(f for r in results[label] for f in r[1])}/{floor_faults}"
                print(f"{name:<12} {build_name(label):<12} {count:5d} {workers:7d} {median:10.3f} {floor_median:8.3f} "
                      f"{median / floor_median:6.2f} {faults:>11}  {spread(times)} / {spread(floor_times)}",
                      flush=True)


def largest_label(name):
    """The largest number in a label file, read line by line to keep this
    process small."""
    with open(name, "rb") as labels:
        return max(max(map(int, line.split())) for line in labels)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=7,
                        help="rounds, each running every program once (with --batch: one batch each)")
    parser.add_argument("--images", nargs="*", help="names to run (default: all; with --batch: "
                        + " and ".join(n for n, _ in BATCHES) + ")")
    parser.add_argument("--tool", help="the edgeseg to time (default: the one in --build), "
                        "for example an older build to compare with")
    parser.add_argument("--base", help="a second edgeseg timed in the same rounds, "
                        "for example the build before a change")
    parser.add_argument("--gallery", action="store_true",
                        help="time the shape gallery against the photograph instead")
    parser.add_argument("--side", type=int, default=4096,
                        help="with --gallery: every picture has side**2 pixels (default 4096)")
    parser.add_argument("--batch", action="store_true",
                        help="time batches of runs, as many at a time as there are cores, instead")
    parser.add_argument("--batch-count", type=int,
                        help="with --batch: runs in a batch (default: " +
                        ", ".join(f"{c} of {n}" for n, c in BATCHES) + ", 64 of any other)")
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
    if args.gallery and args.batch:
        parser.error("--gallery and --batch are two different benchmarks")
    if args.batch_count is not None and (not args.batch or args.batch_count < 1):
        parser.error("--batch-count needs --batch and at least 1")
    known = [g[0] for g in GALLERY] if args.gallery else [i[0] for i in IMAGES + LARGE_IMAGES]
    unknown = [name for name in args.images or [] if name not in known]
    if unknown:
        parser.error(f"no image named {', '.join(unknown)}; known: {', '.join(known)}")

    tool = args.tool or os.path.join(args.build, "edgeseg")
    tools = [("base", args.base), ("new", tool)] if args.base else [("edgeseg", tool)]
    floor = os.path.join(args.build, "bench", "io_floor")
    generator = os.path.join(args.build, "bench", "make_bench_image")
    launcher = os.path.join(args.build, "bench", "timed_run")
    images_dir = os.path.join(args.build, "bench-images")
    out_dir = os.path.join(args.build, "bench-out")
    os.makedirs(images_dir, exist_ok=True)
    os.makedirs(out_dir, exist_ok=True)
    if args.gallery:
        gallery(args, tools, generator, launcher, images_dir, out_dir)
    else:
        (batch if args.batch else table)(args, tools, floor, generator, launcher, images_dir, out_dir)


if __name__ == "__main__":
    main()
