#!/usr/bin/env bash
# Configures and builds in Release mode into build/.
#   scripts/build.sh [CMake configure options...] [-- build targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
configure=()
targets=()
while [[ $# -gt 0 ]]; do
  if [[ "$1" == "--" ]]; then
    shift
    targets=("$@")
    break
  fi
  configure+=("$1")
  shift
done
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${configure[@]}" >/dev/null
if [[ ${#targets[@]} -gt 0 ]]; then
  cmake --build build -j"$(nproc)" --target "${targets[@]}"
else
  cmake --build build -j"$(nproc)"
fi
