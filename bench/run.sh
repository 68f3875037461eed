#!/usr/bin/env bash
# Builds edgeseg in Release, generates the benchmark images once, then times
# edgeseg against the I/O floor on each image. Extra arguments go to
# bench/endtoend.py (for example --runs 9 or --images photo2048); with
# --gallery it prints each shape's time and memory against the photograph's
# instead, and with --batch the time of N runs at a time per core against the
# floor run the same way. --base OLD_EDGESEG times an older build in the same
# rounds, in every mode.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target edgeseg make_bench_image io_floor timed_run
exec python3 bench/endtoend.py --build build/release "$@"
