#!/usr/bin/env bash
# Builds edgeseg in Release, generates the benchmark images once, then times
# edgeseg against the I/O floor on each image. Extra arguments go to
# bench/endtoend.py (for example --runs 9 or --images photo2048); with
# --gallery it prints each shape's time and memory against the photograph's
# instead, and with --batch the time of N runs at a time per core against the
# floor run the same way. --base OLD_EDGESEG times an older build in the same
# rounds, in every mode. With --python (first) it times the Python module
# instead (bench/python_bench.py).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target edgeseg make_bench_image io_floor timed_run
# --python: the Python module on the photographs instead (bench/python_bench.py),
# with Debian's python3, which sees Debian's numpy, scipy and scikit-image.
if [ "${1:-}" = --python ]; then
  shift
  cmake --build --preset release --target _edgeseg
  PYTHONPATH=build/release/python exec /usr/bin/python3 bench/python_bench.py --build build/release "$@"
fi
exec python3 bench/endtoend.py --build build/release "$@"
