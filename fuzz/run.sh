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
MORV_SETUP_EXTRA="clang libclang-rt-dev" scripts/setup.sh
# The lean Xerces-C that build/ has already built, if any, is linked as it is
# (it is not instrumented either way).
lean=$PWD/build/xerces-lean/install
[[ -f "$lean/lib/libxerces-c.a" ]] || lean=
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DMORV_BUILD_FUZZ=ON -DMORV_BUILD_TESTS=OFF -DMORV_XERCES_LEAN_PREFIX="$lean" >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_converter
mkdir -p build-fuzz/corpus
cd build-fuzz
exec ./fuzz/fuzz_converter -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict=../fuzz/morv.dict -artifact_prefix=./ "$@" \
  corpus ../fuzz/regressions ../tests/data ../examples
