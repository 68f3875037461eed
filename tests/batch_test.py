"""Runs the batch recipes of README.md and of the man page as a user would
copy them.

Usage: batch_test.py RECIPE README MANPAGE TOOL
RECIPE is xargs, parallel or several-machines (README.md's) or man-xargs or
man-find (the man page's EXAMPLES); TOOL is the built edgeseg. Each runs on
a folder of images whose names hold a space, a quote, a $, a non-ASCII
letter and a leading dash, two of one name in different folders, and a
malformed one: every good image's four files must be the bytes of a direct
run, at the recipe's path; the malformed one must be named after its
message, and the exit status must count it. several-machines runs against
two SSH servers on 127.0.0.1 that the test starts, each letting in an
account made for the test, with its own home and the tool on its PATH;
only the recipe's -S is rewritten, and both homes must end as they began.
Skipped (exit 77) where a program is missing or no SSH server can run (that
needs root and Debian's openssh-server), unless EDGESEG_REQUIRE_READERS is
set, as CI sets it.
"""
import filecmp
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from readers_test import need, run_tool, tool_command

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


def run_recipe(script, work, tool, env_extra=None):
    # edgeseg by that name on PATH, and a home of its own: a user's
    # ~/.parallel/config or $PARALLEL would change what is tested.
    bin_dir = os.path.join(work, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    with open(os.path.join(bin_dir, "edgeseg"), "w", encoding="utf-8") as f:
        f.write("#!/bin/sh\nexec " + " ".join(map(shlex.quote, tool_command(os.path.abspath(tool)))) + ' "$@"\n')
    os.chmod(os.path.join(bin_dir, "edgeseg"), 0o755)
    env = {"PATH": bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work,
           "SHELL": "/bin/sh", "LC_ALL": "C", "TMPDIR": work, **(env_extra or {})}
    try:
        return subprocess.run(["/bin/sh", "-c", script], cwd=work, env=env, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=200)
    except subprocess.TimeoutExpired:
        sys.exit("the recipe ran for more than 200 s")


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


class Machines:
    """Two SSH servers on the loopback, node1 and node2 to the ssh_config
    file, each letting in one account of its own by a throwaway key. The
    accounts, their processes and the servers go on close()."""

    def __init__(self, work, tool):
        self.work, self.users, self.servers = work, [], []
        self.homes = tempfile.mkdtemp(prefix="edgeseg-homes-")
        os.chmod(self.homes, 0o755)  # each account reaches its own home
        keys = os.path.join(work, "keys")
        os.makedirs(keys)
        for key in "client", "host1", "host2":
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", key, "-f",
                            os.path.join(keys, key)], check=True, stdin=subprocess.DEVNULL)
        # sshd's privilege separation needs this empty folder.
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        self.ssh_config = os.path.join(work, "ssh_config")
        config, known = [], []
        for n in 1, 2:
            user, home = f"edgeseg{os.getpid()}n{n}", os.path.join(self.homes, f"home{n}")
            subprocess.run(["useradd", "-m", "-d", home, "-s", "/bin/sh", "-p", "*", user], check=True,
                           capture_output=True)
            self.users.append(user)
            os.makedirs(os.path.join(home, "bin"))
            shutil.copy(tool, os.path.join(home, "bin", "edgeseg"))
            os.makedirs(os.path.join(home, ".ssh"))
            shutil.copy(os.path.join(keys, "client.pub"), os.path.join(home, ".ssh", "authorized_keys"))
            subprocess.run(["chown", "-R", f"{user}:", home], check=True)
            port = free_port()
            server_config = os.path.join(work, f"sshd{n}_config")
            with open(server_config, "w", encoding="utf-8") as f:
                f.write(f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {keys}/host{n}\n"
                        f"PidFile {work}/sshd{n}.pid\nAllowUsers {user}\nUsePAM no\nStrictModes no\n"
                        "AuthenticationMethods publickey\nAuthorizedKeysFile .ssh/authorized_keys\n"
                        f"SetEnv PATH={home}/bin:/usr/bin:/bin\nMaxStartups 100\nMaxSessions 100\n")
            log = open(os.path.join(work, f"sshd{n}.log"), "w", encoding="utf-8")
            self.servers.append((subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", server_config],
                                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log), port, log))
            config.append(f"Host node{n}\n  HostName 127.0.0.1\n  Port {port}\n  HostKeyAlias node{n}\n")
            with open(os.path.join(keys, f"host{n}.pub"), encoding="utf-8") as f:
                known.append(f"node{n} {f.read()}")
        config.append(f"Host *\n  IdentityFile {keys}/client\n  IdentitiesOnly yes\n  BatchMode yes\n"
                      f"  UserKnownHostsFile {keys}/known_hosts\n  GlobalKnownHostsFile /dev/null\n"
                      "  StrictHostKeyChecking yes\n  LogLevel ERROR\n")
        with open(self.ssh_config, "w", encoding="utf-8") as f:
            f.write("".join(config))
        with open(os.path.join(keys, "known_hosts"), "w", encoding="utf-8") as f:
            f.write("".join(known))

    def wait_listening(self):
        """'' once both servers take connections, else what went wrong."""
        for process, port, log in self.servers:
            for _ in range(100):
                if process.poll() is not None:
                    log.flush()
                    with open(log.name, encoding="utf-8") as f:
                        return f"sshd ended with status {process.returncode}: {f.read()}"
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.1)
            else:
                return f"sshd takes no connection on port {port}"
        return ""

    def close(self):
        for process, _, log in self.servers:
            process.terminate()
            process.wait()
            log.close()
        # Sessions outlive their server's listener: end what each account
        # still runs, then the account.
        for user in self.users:
            uid = int(subprocess.run(["id", "-u", user], capture_output=True, text=True).stdout)
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    if os.stat(f"/proc/{pid}").st_uid == uid:
                        os.kill(int(pid), signal.SIGKILL)
                except OSError:
                    pass
            subprocess.run(["userdel", "-f", user], capture_output=True)
        shutil.rmtree(self.homes, ignore_errors=True)


def several_machines(script, work, tool):
    need(shutil.which("rsync"), "rsync", "rsync")
    need(os.geteuid() == 0 and os.access("/usr/sbin/sshd", os.X_OK) and shutil.which("useradd"),
         "an SSH server with accounts of its own (root and /usr/sbin/sshd)", "openssh-server")
    logins = re.findall(r"(?:-S|--sshlogin) \S+", script)
    if len(logins) != 1:
        sys.exit(f"the recipe names {len(logins)} --sshlogin options, not one")
    machines = Machines(work, tool)
    try:
        trouble = machines.wait_listening()
        need(not trouble, f"an SSH server that runs here ({trouble})", "openssh-server")
        before = [tree(os.path.join(machines.homes, home)) for home in sorted(os.listdir(machines.homes))]
        # The servers are node1 and node2 only to this ssh_config, given to
        # parallel (and through it to rsync) as its ssh command.
        logins = ",".join(f"2/{user}@node{n}" for n, user in enumerate(machines.users, 1))
        script = script.replace(logins_in := re.search(r"(?:-S|--sshlogin) \S+", script).group(0),
                                f"{logins_in.split()[0]} {logins}")
        # The malformed image's files from an earlier batch: they must not
        # count as come back.
        stale = [f"out/{BAD}{suffix}" for suffix in SUFFIXES]
        os.makedirs(os.path.join(work, "out"))
        for name in stale:
            open(os.path.join(work, name), "w", encoding="ascii").close()
            os.utime(os.path.join(work, name), (time.time() - 3600,) * 2)
        run = run_recipe(script, work, tool, {"PARALLEL_SSH": f"ssh -F {machines.ssh_config}"})
        after = [tree(os.path.join(machines.homes, home)) for home in sorted(os.listdir(machines.homes))]
        if after != before:
            sys.exit(f"the remote homes held {before}, and after the batch {after}\n{run.stderr}")
        check_results("several-machines", run, work, tool, stale)
    finally:
        machines.close()


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
