#!/usr/bin/env python3
"""End to end: the progress line of a long run on a terminal.

  progress_test.py EDGESEG

Runs the tool on an image that takes well over a second (98 megapixels,
about 490 MB of text), once with standard error on a pseudo-terminal and
once on a pipe. On the terminal the line must appear, always in one width,
and be erased before the run ends; on the pipe nothing may be written. Both
runs succeed with the same files and print nothing on standard output.
Python standard library only.
"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import time

from harness import tool_command

WIDTH_PX, HEIGHT_PX = 12000, 8192
WIDTH = 29  # of every line drawn, and of the blank that erases it


def main():
    tool = sys.argv[1]
    scratch = tempfile.mkdtemp(prefix="edgeseg-progress-")
    try:
        image = os.path.join(scratch, "in.txt")
        row = " ".join(str((x * 37) % 4096) for x in range(WIDTH_PX)) + "\n"
        with open(image, "w") as f:
            for y in range(HEIGHT_PX):
                f.write(row if y % 64 else row.replace("7", "9"))

        # On a terminal.
        master, slave = pty.openpty()
        started = time.monotonic()
        run = subprocess.Popen(tool_command(tool) + [image, os.path.join(scratch, "tty")], stdout=subprocess.PIPE,
                               stderr=slave)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal closed with the tool's end
                break
            if not chunk:
                break
            seen += chunk
        out = run.stdout.read()
        status = run.wait()
        elapsed = time.monotonic() - started
        os.close(master)
        assert status == 0 and out == b"", (status, out)
        # The line is drawn at the first step that begins after a second.
        assert elapsed > 1.2, f"the run took {elapsed:.2f} s: too short to show progress"
        text = seen.decode()
        lines = re.findall(r"\r(edgeseg: [a-z ]+ \d+% *)", text)
        assert lines, f"no progress line in {text!r}"
        assert all(len(line) == WIDTH for line in lines), lines
        assert text.endswith("\r" + " " * WIDTH + "\r"), f"not erased at the end: {text[-80:]!r}"
        assert "\n" not in text, repr(text)

        # On a pipe: nothing at all.
        run = subprocess.run(tool_command(tool) + [image, os.path.join(scratch, "pipe")], capture_output=True)
        assert (run.returncode, run.stdout, run.stderr) == (0, b"", b""), (run.returncode, run.stdout, run.stderr)
        for suffix in ["", "_In.bmp", "_Reg.bmp", "_Grad.bmp"]:
            with open(os.path.join(scratch, "tty" + suffix), "rb") as a, \
                    open(os.path.join(scratch, "pipe" + suffix), "rb") as b:
                assert a.read() == b.read(), suffix
        print(f"{len(lines)} progress lines in {elapsed:.1f} s, the last {lines[-1].rstrip()!r}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
