#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (the default preset: build/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset default
