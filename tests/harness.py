"""What the Python tests that run the built tool share: starting it (under
its emulator in a build for another machine), running it on one input, and
skipping where a program or package that a test needs is missing.

Standard library only; imported by the tests beside it.
"""
import os
import subprocess
import sys

SKIP = 77  # the exit status that CTest takes for a skipped test (SKIP_RETURN_CODE)


def need(available, what, debian="python3-numpy python3-pil imagemagick"):
    """Skips the test (exit 77) unless available is true, naming the Debian
    packages to install; fails it instead where EDGESEG_REQUIRE_READERS is
    set, as CI sets it."""
    if available:
        return
    if os.environ.get("EDGESEG_REQUIRE_READERS"):
        sys.exit(f"{what} is missing, and this run requires every reader")
    print(f"{what} is missing (Debian: apt-get install {debian}): skipped")
    sys.exit(SKIP)


def tool_command(tool):
    """The words that start the tool: in a build for another machine, its
    emulator's words (EDGESEG_TOOL_EMULATOR, separated by spaces) first."""
    return os.environ.get("EDGESEG_TOOL_EMULATOR", "").split() + [tool]


def run_tool(tool, input_name, base):
    """Runs the tool on one input; a failed run or any output ends the test."""
    run = subprocess.run(tool_command(tool) + [input_name, base], capture_output=True, timeout=60)
    if run.returncode != 0 or run.stdout:
        sys.exit(f"edgeseg {input_name}: status {run.returncode}, output {run.stdout!r}")
