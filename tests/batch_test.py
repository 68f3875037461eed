"""Runs README.md's GNU parallel recipes as a user would copy them.

Usage: batch_test.py one-machine|several-machines README TOOL
one-machine runs the recipe on a folder of good images, two of them of one
name in different folders, and a malformed one: each good image gives its
four files at its own path below out/, the same bytes as a direct run, the
malformed one is reported by message and path, and the status counts it.
several-machines runs the other recipe under parallel's --dry-run: each
image goes to one of the recipe's hosts, its four files come back and both
are cleaned up there. TOOL is the built edgeseg. Skipped (exit 77) where GNU
parallel, or rsync for the second, is missing, unless EDGESEG_REQUIRE_READERS
is set, as CI sets it.
"""
import filecmp
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

from readers_test import need, run_tool, tool_command

MARKERS = {"one-machine": "<!-- recipe: one machine", "several-machines": "<!-- recipe: several machines"}
SUFFIXES = ("", "_In.bmp", "_Reg.bmp", "_Grad.bmp")

# Good images of different sizes, one with a space in its name, two of one
# name in different folders; and one whose second line is short.
GOOD = {
    "square": [[3000 if 2 <= x <= 6 and 2 <= y <= 6 else 100 for x in range(9)] for y in range(9)],
    "two words": [[4095 if 3 <= x <= 9 and 1 <= y <= 5 else 40 * x for x in range(13)] for y in range(8)],
    "a/same": [[2000 if 1 <= x <= 5 and 2 <= y <= 7 else 30 for x in range(10)] for y in range(9)],
    "b/same": [[2500 if 4 <= x <= 9 and 1 <= y <= 6 else 60 for x in range(12)] for y in range(10)],
}
BAD = "bad"
BAD_TEXT = "1 2 3 4 5\n1 2 3 4\n1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n"
MESSAGE = "Wrong input file format"


def recipe(readme, which):
    """The first ```sh block after the recipe's marker in README.md."""
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    start = text.find(MARKERS[which])
    found = re.compile(r"^```sh\n(.*?)^```$", re.S | re.M).search(text, start) if start >= 0 else None
    if not found:
        sys.exit(f"{readme}: no sh block after \"{MARKERS[which]}\"")
    return found.group(1)


def is_gnu_parallel():
    # moreutils installs another command of the same name.
    parallel = shutil.which("parallel")
    return parallel and "GNU parallel" in subprocess.run([parallel, "--version"], capture_output=True,
                                                         text=True, stdin=subprocess.DEVNULL).stdout


def make_images(work):
    os.makedirs(os.path.join(work, "images"))
    for name, rows in GOOD.items():
        os.makedirs(os.path.dirname(os.path.join(work, "images", name)), exist_ok=True)
        with open(os.path.join(work, "images", name + ".txt"), "w", encoding="ascii") as f:
            f.write("".join(" ".join(map(str, row)) + "\n" for row in rows))
    with open(os.path.join(work, "images", BAD + ".txt"), "w", encoding="ascii") as f:
        f.write(BAD_TEXT)


def run_recipe(script, work, tool, options=""):
    # edgeseg by that name on PATH, and a home of its own: a user's
    # ~/.parallel/config or $PARALLEL would change what is tested.
    bin_dir = os.path.join(work, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    edgeseg = os.path.join(bin_dir, "edgeseg")
    if not os.path.exists(edgeseg):
        with open(edgeseg, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\nexec " + " ".join(map(shlex.quote, tool_command(os.path.abspath(tool)))) + ' "$@"\n')
        os.chmod(edgeseg, 0o755)
    env = {"PATH": bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work,
           "SHELL": "/bin/sh", "LC_ALL": "C", "TMPDIR": work}
    if options:
        env["PARALLEL"] = options
    try:
        return subprocess.run(["/bin/sh", "-c", script], cwd=work, env=env, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=120)
    except subprocess.TimeoutExpired:
        sys.exit("the recipe ran for more than 120 s")


def one_machine(script, work, tool):
    run = run_recipe(script, work, tool)
    expected_out = f"{MESSAGE}: images/{BAD}.txt\n"
    if run.returncode != 1 or run.stdout != expected_out:
        sys.exit(f"status {run.returncode}, output {run.stdout!r}, expected 1 and {expected_out!r}\n{run.stderr}")
    out = os.path.join(work, "out")
    written = sorted(os.path.relpath(os.path.join(folder, file), out)
                     for folder, _, files in os.walk(out) for file in files)
    expected = sorted(name + suffix for name in GOOD for suffix in SUFFIXES)
    if written != expected:
        sys.exit(f"out/ holds {written}, not {expected}")
    # Each file must be the one a direct run makes from that very image.
    for name in GOOD:
        os.makedirs(os.path.dirname(os.path.join(work, "direct", name)), exist_ok=True)
        run_tool(tool, os.path.join(work, "images", name + ".txt"), os.path.join(work, "direct", name))
        for suffix in SUFFIXES:
            if not filecmp.cmp(os.path.join(work, "out", name + suffix), os.path.join(work, "direct", name + suffix),
                               shallow=False):
                sys.exit(f"out/{name}{suffix} differs from a direct run's")
    print(f"one machine: 4 files for each of {sorted(GOOD)} at its path, and {expected_out!r}")


def several_machines(script, work, tool):
    need(shutil.which("rsync"), "rsync", "rsync")
    logins = re.search(r"(?:-S|--sshlogin) (\S+)", script)
    if not logins:
        sys.exit("the recipe names no --sshlogin")
    # [N/][user@]host, separated by commas.
    hosts = {login.split("/")[-1].split("@")[-1] for login in logins.group(1).split(",")}

    # The commands themselves, one an image.
    run = run_recipe(script, work, tool, "--dry-run")
    commands = sorted(shlex.split(line) for line in run.stdout.splitlines())
    expected = sorted(["mkdir", "-p", f"$(dirname {shlex.quote('out/' + name)})", "&&", "edgeseg", f"images/{name}.txt",
                       f"out/{name}", "||", "{", "echo", ":", f"images/{name}.txt;", "false;", "}"]
                      for name in [*GOOD, BAD])
    if run.returncode != 0 or commands != expected:
        sys.exit(f"--dry-run, status {run.returncode}:\n{run.stdout}{run.stderr}\nexpected the commands {expected}")

    # With -vv parallel also prints the ssh and rsync around each: the
    # image sent to a host, each of its files fetched back to its path below
    # out/, both removed there. Checked for the names without a space, whose
    # quoting is plain.
    run = run_recipe(script, work, tool, "--dry-run -vv")
    if run.returncode != 0:
        sys.exit(f"--dry-run -vv, status {run.returncode}:\n{run.stdout}{run.stderr}")
    hosts_pattern = "|".join(map(re.escape, hosts))
    for name in "square", "a/same", BAD:
        image = re.escape(f"./images/{name}.txt")
        folder, base = re.escape(os.path.dirname("out/" + name)), re.escape(os.path.basename(name))
        wanted = [rf"rsync [^;]* {image} (?:{hosts_pattern}):\./\.;", rf"rm -f [^;]*{image}"]
        wanted += [rf"rsync .*?-- (?:{hosts_pattern}):\./{base}{re.escape(suffix)} \./{folder};" for suffix in SUFFIXES]
        wanted += [rf"rm -f [^;]*\./out/{re.escape(name + suffix)}\W" for suffix in SUFFIXES]
        lines = [line for line in run.stdout.splitlines() if f"./images/{name}.txt" in line]
        missing = [pattern for pattern in wanted if not any(re.search(pattern, line) for line in lines)]
        if len(lines) != 1 or missing:
            sys.exit(f"--dry-run -vv for {name}: {len(lines)} lines, lacking {missing}:\n" + "\n".join(lines))
    print(f"several machines: each image sent to one of {sorted(hosts)}, its 4 files returned, both cleaned up")


def main():
    which, readme, tool = sys.argv[1:4]
    if which not in MARKERS:
        sys.exit(f"unknown recipe {which}")
    script = recipe(readme, which)
    need(is_gnu_parallel(), "GNU parallel", "parallel")
    with tempfile.TemporaryDirectory() as work:
        make_images(work)
        if which == "one-machine":
            one_machine(script, work, tool)
        else:
            several_machines(script, work, tool)


if __name__ == "__main__":
    main()
