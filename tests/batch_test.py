"""Runs the batch recipes of README.md and the man page as a user would copy them.

Usage: batch_test.py xargs|parallel|several-machines|man-xargs|man-find README MANPAGE TOOL
Each runs on images named with a space, a quote, a $, a non-ASCII letter
and a leading dash, two of one name in different folders, and a malformed
one: each good image's four files, at the recipe's path, must be the bytes
of a direct run, the malformed one named after its message and counted in
the exit status. several-machines runs against two SSH servers on
127.0.0.1, each letting in an account of its own made here, with only the
recipe's -S rewritten; both homes must end as they began. TOOL is the built
edgeseg. Skipped (exit 77) where a program is missing or no SSH server can
run here (it needs root), unless EDGESEG_REQUIRE_READERS is set, as CI sets it.
"""
import contextlib
import filecmp
import os
import pwd
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from harness import need, run_tool, tool_command

SUFFIXES = ("", "_In.bmp", "_Reg.bmp", "_Grad.bmp")
# Names a shell or rsync may split, expand or take for an option.
NAMES = ["sp/two words", "it's", "a$b", "café", "-dash", "a/same", "b/same", "sp ace/x"]
BAD = "bad"
BAD_TEXT = "1 2 3 4 5\n1 2 3 4\n1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n"
FAILED = [f"Wrong input file format: images/{BAD}.txt"]

# Where each recipe is, where it puts an image's files, and its status and
# lines when the malformed image fails.
RECIPES = {
    "xargs": ("readme", "xargs", "out", 123, FAILED),
    "parallel": ("readme", "parallel", "out", 1, FAILED),
    "several-machines": ("readme", "several machines", "out", 1,
                         FAILED + [f"not all four files came back: images/{BAD}.txt"]),
    "man-xargs": ("man", "xargs", "out", 123, FAILED),
    "man-find": ("man", "find", "beside", 1, FAILED),
}


def recipe(readme, manpage, which):
    """The first code block after the recipe's marker, as a shell reads it."""
    source, name = RECIPES[which][:2]
    with open(readme if source == "readme" else manpage, encoding="utf-8") as f:
        text = f.read()
    marker = f"<!-- recipe: {name} " if source == "readme" else f'.\\" recipe: {name} '
    block = r"^```sh\n(.*?)^```$" if source == "readme" else r"^\.EX\n(.*?)^\.EE$"
    start = text.find(marker)
    found = re.compile(block, re.S | re.M).search(text, start) if start >= 0 else None
    if not found:
        sys.exit(f"no code block after \"{marker.strip()}\"")
    script = found.group(1)
    if source == "man":
        for escape, char in ("\\-", "-"), ("\\(aq", "'"), ("\\e", "\\"):
            script = script.replace(escape, char)
    return script


def is_gnu_parallel():
    # moreutils installs another command of the same name.
    parallel = shutil.which("parallel")
    return parallel and "GNU parallel" in subprocess.run([parallel, "--version"], capture_output=True,
                                                         text=True, stdin=subprocess.DEVNULL).stdout


def make_images(work):
    for i, name in enumerate(NAMES):
        path = os.path.join(work, "images", name + ".txt")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # A bright block placed and sized by the index on a ramp, so that no
        # two images give the same files.
        rows = [[3000 if 2 <= x <= 4 + i and 1 + i % 3 <= y <= 6 else 100 + 20 * x for x in range(10 + i)]
                for y in range(9 + i % 2)]
        with open(path, "w", encoding="ascii") as f:
            f.write("".join(" ".join(map(str, row)) + "\n" for row in rows))
    with open(os.path.join(work, "images", BAD + ".txt"), "w", encoding="ascii") as f:
        f.write(BAD_TEXT)


def run_recipe(script, work, tool, ssh=""):
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
    if ssh:
        env["PARALLEL_SSH"] = ssh
    try:
        return subprocess.run(["/bin/sh", "-c", script], cwd=work, env=env, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=120)
    except subprocess.TimeoutExpired:
        sys.exit("the recipe ran for more than 120 s")


def check_results(which, run, work, tool, stale=()):
    _, _, layout, status, lines = RECIPES[which]
    if run.returncode != status or sorted(run.stdout.splitlines()) != sorted(lines):
        sys.exit(f"status {run.returncode}, output {run.stdout!r}, expected {status} and the lines {lines}\n"
                 f"{run.stderr}")
    made = sorted(os.path.relpath(os.path.join(folder, file), work)
                  for top in ("out", "images") for folder, _, files in os.walk(os.path.join(work, top))
                  for file in files)
    base = {"out": "out/{}", "beside": "images/{}.txt.labels"}[layout].format
    expected = sorted([base(name) + suffix for name in NAMES for suffix in SUFFIXES] +
                      [f"images/{name}.txt" for name in [*NAMES, BAD]] + list(stale))
    if made != expected:
        sys.exit(f"the recipe left {made}, not {expected}")
    # Each file must be the one a direct run makes from that very image.
    for name in NAMES:
        direct = os.path.join(work, "direct", name)
        os.makedirs(os.path.dirname(direct), exist_ok=True)
        run_tool(tool, os.path.join(work, "images", name + ".txt"), direct)
        for suffix in SUFFIXES:
            if not filecmp.cmp(os.path.join(work, base(name) + suffix), direct + suffix, shallow=False):
                sys.exit(f"{base(name)}{suffix} differs from a direct run's")
    print(f"{which}: 4 files for each of {NAMES}, status {status} and {lines}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tree(top):
    return sorted(os.path.relpath(os.path.join(folder, entry), top)
                  for folder, folders, files in os.walk(top) for entry in folders + files)


def several_machines(script, work, tool):
    need(shutil.which("rsync"), "rsync", "rsync")
    need(os.geteuid() == 0 and os.access("/usr/sbin/sshd", os.X_OK),
         "sshd run as root (for the test's own servers and accounts)", "openssh-server")
    # Two SSH servers on 127.0.0.1, node1 and node2 to an ssh_config given
    # to parallel (and through it to rsync) as its ssh command; each lets
    # one account of its own in, by a throwaway key.
    homes, users, servers, config = tempfile.mkdtemp(), [], [], []
    os.chmod(homes, 0o755)  # each account reaches its own home below
    try:
        for key in "client", "host1", "host2":
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", f"{work}/{key}"], check=True)
        os.makedirs("/run/sshd", exist_ok=True)  # sshd's privilege separation needs it
        for n in 1, 2:
            user, home, port = f"edgeseg{os.getpid()}n{n}", f"{homes}/{n}", free_port()
            subprocess.run(["useradd", "-m", "-d", home, "-s", "/bin/sh", "-p", "*", user], check=True)
            users.append(user)
            os.makedirs(f"{home}/bin")
            os.makedirs(f"{home}/.ssh")
            shutil.copy(tool, f"{home}/bin/edgeseg")
            shutil.copy(f"{work}/client.pub", f"{home}/.ssh/authorized_keys")
            subprocess.run(["chown", "-R", user, home], check=True)
            with open(f"{work}/sshd{n}", "w", encoding="utf-8") as f:
                f.write(f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {work}/host{n}\nPidFile none\n"
                        f"AllowUsers {user}\nUsePAM no\nStrictModes no\nLogLevel ERROR\n"
                        f"SetEnv PATH={home}/bin:/usr/bin:/bin\n")
            servers.append((subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", f"{work}/sshd{n}"],
                                             stderr=subprocess.PIPE, text=True), port))
            config.append(f"Host node{n}\n HostName 127.0.0.1\n Port {port}\n HostKeyAlias node{n}\n")
            with open(f"{work}/host{n}.pub", encoding="utf-8") as f, open(f"{work}/known", "a") as known:
                known.write(f"node{n} {f.read()}")
        with open(f"{work}/ssh_config", "w", encoding="utf-8") as f:
            f.write("".join(config) + f"Host *\n IdentityFile {work}/client\n IdentitiesOnly yes\n BatchMode yes\n"
                    f" UserKnownHostsFile {work}/known\n GlobalKnownHostsFile /dev/null\n LogLevel ERROR\n")
        for server, port in servers:
            for _ in range(50):
                with socket.socket() as s:
                    if server.poll() is not None or s.connect_ex(("127.0.0.1", port)) == 0:
                        break
                time.sleep(0.1)
            if server.poll() is not None:
                need(False, f"an SSH server that runs here ({server.stderr.read().strip()})", "openssh-server")

        # The malformed image's files from an earlier batch, which must not
        # count as come back.
        stale = [f"out/{BAD}{suffix}" for suffix in SUFFIXES]
        os.makedirs(f"{work}/out")
        for name in stale:
            open(f"{work}/{name}", "w", encoding="ascii").close()
            os.utime(f"{work}/{name}", (time.time() - 3600,) * 2)
        logins = re.findall(r"(?:-S|--sshlogin) \S+", script)
        if len(logins) != 1:
            sys.exit(f"the recipe names {len(logins)} --sshlogin options, not one")
        script = script.replace(logins[0], logins[0].split()[0] + " " + ",".join(
            f"2/{user}@node{n}" for n, user in enumerate(users, 1)))
        before = [tree(f"{homes}/{n}") for n in (1, 2)]
        run = run_recipe(script, work, tool, f"ssh -F {work}/ssh_config")
        if [tree(f"{homes}/{n}") for n in (1, 2)] != before:
            sys.exit(f"the remote homes held {before}, and after the batch "
                     f"{[tree(f'{homes}/{n}') for n in (1, 2)]}\n{run.stderr}")
        check_results("several-machines", run, work, tool, stale)
    finally:
        for server, _ in servers:
            server.terminate()
            server.wait()
        # Sessions outlive their server's listener: end what each account
        # still runs, then the account.
        for user in users:
            uid = pwd.getpwnam(user).pw_uid
            for pid in filter(str.isdigit, os.listdir("/proc")):
                with contextlib.suppress(OSError):
                    if os.stat(f"/proc/{pid}").st_uid == uid:
                        os.kill(int(pid), signal.SIGKILL)
            subprocess.run(["userdel", "-f", user], capture_output=True)
        shutil.rmtree(homes)


def main():
    which, readme, manpage, tool = sys.argv[1:5]
    if which not in RECIPES:
        sys.exit(f"unknown recipe {which}")
    script = recipe(readme, manpage, which)
    if "parallel" in script:
        need(is_gnu_parallel(), "GNU parallel", "parallel")
    with tempfile.TemporaryDirectory() as work:
        make_images(work)
        if which == "several-machines":
            several_machines(script, work, tool)
        else:
            check_results(which, run_recipe(script, work, tool), work, tool)


if __name__ == "__main__":
    main()
