#!/usr/bin/env bash
# Builds morv_conv and the bare-parse program in Release mode, generates the
# benchmark documents (once) and compares the two side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
MORV_SETUP_EXTRA="libbenchmark-dev valgrind" scripts/setup.sh
scripts/build.sh -DMORV_BUILD_BENCH=ON
python3 bench/run.py build build/bench-data
python3 bench/hostile.py build build/bench-data
