#!/usr/bin/env bash
# Builds the fuzz target with clang++ and runs it for the given number of
# seconds (default 600), seeded with the test documents and the examples.
# New corpus entries stay in build-fuzz/corpus; crashing inputs are written
# to build-fuzz/ and belong, once fixed, in fuzz/regressions/.
#   fuzz/run.sh [seconds] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
scripts/setup.sh fuzz
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset fuzz
mkdir -p build-fuzz/corpus
cd build-fuzz
exec ./fuzz/fuzz_converter -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict=../fuzz/morv.dict -artifact_prefix=./ "$@" \
  corpus ../fuzz/regressions ../tests/data ../examples
