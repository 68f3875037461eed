#!/usr/bin/env bash
# Builds edgeseg in Release, generates the benchmark images once, then times
# edgeseg against the I/O floor on each image. Extra arguments go to
# bench/endtoend.py (for example --runs 9 or --images photo2048); with
# --gallery it prints each shape's time and memory against the photograph's
# instead (add --base OLD_EDGESEG to time an older build in the same rounds).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target edgeseg make_bench_image io_floor timed_run
exec python3 bench/endtoend.py --build build/release "$@"
