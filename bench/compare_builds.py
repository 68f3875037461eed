#!/usr/bin/env python3
"""Runs two edgeseg builds on the same inputs and reports every difference.

  bench/compare_builds.py OLD_TOOL NEW_TOOL [--seeds 3] [--generator PATH]
  bench/compare_builds.py --forced build/release/tests/edgeseg_forced [--seeds 3] [--generator PATH]

With --forced it compares, for every form of the fast kernels that the
processor runs, `edgeseg_forced FORM` with `edgeseg_forced plain` instead of
two tools, and prints which forms it compared.

For each input both tools run in fresh directories; their exit status,
standard output, standard error, the names of the files they leave and every
byte of those files must agree. The inputs are the examples, the benchmark
generator's kinds at small sizes (when --generator names make_bench_image),
designed shapes (tiny, narrow, tall, ramps that trigger the variance report)
and seeded random texts (large values, leading zeros, CR LF, NUL, stray
bytes). Prints one line per mismatch and a summary; exits 1 on any mismatch.
Python standard library only.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def image_text(rows, line_end="\n"):
    return "".join(" ".join(str(v) for v in row) + line_end for row in rows).encode()


def designed_inputs():
    """Shapes and values chosen for the rules they exercise."""
    yield "empty", b""
    yield "no line feed", b"1 2 3"
    yield "blank last line", b"1 2 3 4\n" * 4 + b"\n"
    for w, h in [(1, 1), (3, 3), (4, 4), (5, 4), (4, 5), (4, 300), (300, 4), (7, 2000), (2000, 7)]:
        rng = random.Random(w * 10007 + h)
        yield f"noise {w}x{h}", image_text([[rng.randrange(4096) for _ in range(w)] for _ in range(h)])
    for side in (11, 12, 40):
        yield f"ramp {side}", image_text([[x for x in range(side)] for _ in range(side)])
    blocks = [[1000 if (x // 6 + y // 6) % 2 else 0 for x in range(64)] for y in range(48)]
    yield "checker blocks", image_text(blocks)
    yield "checker blocks crlf", image_text(blocks, "\r\n")
    yield "values past 65535", image_text([[65535, 65536, 2147483647, 7] * 4] * 6)
    yield "value past 2^31-1", image_text([[1, 2, 2147483648, 4] * 2] * 8)
    yield "leading zeros", image_text([["000000000000042", 7, 0, 9000] * 2] * 8)
    yield "nul after rows", image_text([[5, 900, 3, 7000] * 2] * 8) + b"\0" + b"99999999999 1\n" * 3
    yield "digits after last line feed", image_text([[5, 900, 3, 7000] * 2] * 8) + b"9" * 1000


def random_inputs(seed):
    rng = random.Random(seed)
    for case in range(60):
        w, h = rng.randint(1, 90), rng.randint(1, 90)
        high = rng.choice([4095, 4095, 65535, 70000, 2147483647, 2147483648])
        rows = [[rng.randint(0, high) if rng.random() < 0.02 else rng.choice([0, 1, 500, 3000, 4095])
                 + rng.randint(0, 30) for _ in range(w)] for _ in range(h)]
        text = bytearray(image_text(rows, rng.choice(["\n", "\r\n"])))
        for _ in range(rng.choice([0, 0, 0, 1, 3])):
            text[rng.randrange(len(text))] = rng.choice(b"\0,-.a\xff\t ")
        if rng.random() < 0.2:
            text += bytes(rng.choice(b"0123456789 \n") for _ in range(rng.randint(1, 30)))
        yield f"random seed {seed} case {case}", bytes(text)


def generated_inputs(generator, scratch):
    for kind in ["photo", "spiral", "comb", "lattice"]:
        for side in (64, 97, 256):
            name = os.path.join(scratch, f"gen_{kind}_{side}.txt")
            if subprocess.run([generator, kind, str(side), name], capture_output=True).returncode == 0:
                with open(name, "rb") as f:
                    yield f"{kind} {side}", f.read()
                os.remove(name)


FORMS = ["plain", "sse2", "sse4.1", "avx2", "avx512"]


def forms_run(forced):
    """The forms that edgeseg_forced runs here: a form it lacks or the
    processor does not run is refused with status 2 before the arguments
    are checked, any other goes on to the command's own 255."""
    return [form for form in FORMS if subprocess.run([forced, form], capture_output=True).returncode != 2]


def run(tool, input_path, work):
    os.makedirs(work)
    done = subprocess.run(tool + [input_path, os.path.join(work, "res")], capture_output=True, timeout=300)
    files = {}
    for name in sorted(os.listdir(work)):
        with open(os.path.join(work, name), "rb") as f:
            files[name] = f.read()
    return done.returncode, done.stdout, done.stderr, files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old", nargs="?")
    parser.add_argument("new", nargs="?")
    parser.add_argument("--forced", help="edgeseg_forced: every form against the plain one")
    parser.add_argument("--seeds", type=int, default=3)
    parser.add_argument("--generator", help="make_bench_image, for the benchmark kinds")
    args = parser.parse_args()
    if args.forced:
        forms = forms_run(args.forced)
        print("forms compared with plain:", ", ".join(forms[1:]) or "none")
        pairs = [([args.forced, "plain"], [args.forced, form]) for form in forms[1:]]
    elif args.old and args.new:
        pairs = [([args.old], [args.new])]
    else:
        parser.error("two tools, or --forced")

    scratch = tempfile.mkdtemp(prefix="edgeseg-compare-")
    mismatches = 0
    count = 0
    try:
        cases = [(n, open(os.path.join(ROOT, "examples", n), "rb").read())
                 for n in sorted(os.listdir(os.path.join(ROOT, "examples"))) if n.endswith(".txt")]
        cases += list(designed_inputs())
        for seed in range(1, args.seeds + 1):
            cases += list(random_inputs(seed))
        if args.generator:
            cases += list(generated_inputs(args.generator, scratch))
        for old_tool, new_tool in pairs:
            for index, (name, data) in enumerate(cases):
                input_path = os.path.join(scratch, f"in{index}.txt")
                with open(input_path, "wb") as f:
                    f.write(data)
                old = run(old_tool, input_path, os.path.join(scratch, f"old{index}"))
                new = run(new_tool, input_path, os.path.join(scratch, f"new{index}"))
                count += 1
                if old != new:
                    mismatches += 1
                    what = [part for part, a, b in zip(["status", "stdout", "stderr", "files"], old, new) if a != b]
                    print(f"MISMATCH {' '.join(new_tool[1:])} {name}: {', '.join(what)} "
                          f"(old status {old[0]}, new {new[0]})")
                shutil.rmtree(os.path.join(scratch, f"old{index}"))
                shutil.rmtree(os.path.join(scratch, f"new{index}"))
                os.remove(input_path)
            # Failures before any input is read.
            for name, argv in [("no arguments", []), ("missing input", [os.path.join(scratch, "missing")]),
                               ("directory input", [scratch, os.path.join(scratch, "x")])]:
                a = subprocess.run(old_tool + argv, capture_output=True)
                b = subprocess.run(new_tool + argv, capture_output=True)
                count += 1
                if (a.returncode, a.stdout, a.stderr) != (b.returncode, b.stdout, b.stderr):
                    mismatches += 1
                    print(f"MISMATCH {' '.join(new_tool[1:])} {name}")
    finally:
        shutil.rmtree(scratch)
    print(f"{count} inputs, {mismatches} mismatches")
    sys.exit(1 if mismatches else 0)


if __name__ == "__main__":
    main()
