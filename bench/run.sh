#!/usr/bin/env bash
# Builds morv_conv and the bare-parse programs in Release mode (preset
# bench), generates the benchmark documents (once) and compares them side by
# side; then the hostile documents.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh bench
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset bench
python3 bench/run.py build build/bench-data --write docs/PERFORMANCE.md
python3 bench/hostile.py build build/bench-data
