#!/usr/bin/env bash
# Sets up, builds the whole test suite with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking (preset sanitize:
# build-sanitize/) and runs it; then the units that run threads under
# ThreadSanitizer (preset tsan: build-tsan/). The presets set the sanitizers'
# options.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
# The lean Xerces-C that build/ has already built, if any, is linked as it is.
lean=$PWD/build/xerces-lean/install
[[ -f "$lean/lib/libxerces-c.a" ]] || lean=
for preset in sanitize tsan; do
  cmake --preset "$preset" -DMORV_XERCES_LEAN_PREFIX="$lean" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
