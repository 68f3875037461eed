"""Builds the Debian packages with cpack, edgeseg and libedgeseg-dev, and
checks each with lintian, Debian's own checker: no error and no warning may
be reported.

Usage: package_test.py CPACK BUILD
CPACK is CMake's cpack and BUILD the configured build tree. Skipped (exit 77)
where lintian is not installed, unless EDGESEG_REQUIRE_READERS is set, as CI
sets it.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from harness import need


def main():
    cpack, build = sys.argv[1], os.path.abspath(sys.argv[2])
    lintian = shutil.which("lintian")
    need(lintian, "lintian", "lintian")
    with tempfile.TemporaryDirectory() as work:
        made = subprocess.run([cpack, "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", work],
                              cwd=build, capture_output=True, text=True, timeout=120)
        debs = glob.glob(os.path.join(work, "*.deb"))
        # python3-edgeseg too where the build makes the Python module.
        expected = 3 if os.environ.get("EDGESEG_PYTHON_MODULE") else 2
        if made.returncode != 0 or len(debs) != expected:
            sys.exit(f"cpack, status {made.returncode}, made {debs}:\n{made.stdout}{made.stderr}")
        # Run as root, lintian warns about it unless told that this is meant;
        # CI runs as root. Info tags are shown but do not fail the test.
        run = subprocess.run([lintian, "--allow-root", "--fail-on", "error,warning", "--display-info", *sorted(debs)],
                             capture_output=True, text=True, timeout=300)
    report = run.stdout + run.stderr
    if run.returncode != 0:
        sys.exit(f"lintian, status {run.returncode}:\n{report}")
    print(f"lintian: no errors or warnings\n{report}", end="")


if __name__ == "__main__":
    main()
