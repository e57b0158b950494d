#!/usr/bin/env bash
# Sets up, builds the whole test suite with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking and runs it (preset sanitize:
# build-sanitize/); then the units that run threads under ThreadSanitizer
# (preset tsan: build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset sanitize
cmake --workflow --preset tsan
