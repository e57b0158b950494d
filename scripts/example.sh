#!/usr/bin/env bash
# Sets up, builds, converts the example document and shows the table file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --preset default >/dev/null
cmake --build --preset default --target morv_conv >/dev/null

in=examples/blink.xml
out=build/blink.bin
build/converter/morv_conv "$in" "$out"
n=$(od -An -tu4 -N4 "$out" | tr -d ' ')
echo "$out: $(stat -c %s "$out") bytes, $n steps"
shown=$((n < 12 ? n : 12))
echo "first $shown frames:   $(od -An -tu2 -j4 -N$((2 * shown)) "$out" | xargs)"
echo "first $shown textures: $(od -An -tu1 -j$((4 + 2 * n)) -N"$shown" "$out" | xargs)"
echo "first $shown palettes: $(od -An -tu1 -j$((4 + 3 * n)) -N"$shown" "$out" | xargs)"
if cmp -s "$out" examples/blink.expected.bin; then
  echo "matches examples/blink.expected.bin"
else
  echo "differs from examples/blink.expected.bin" >&2
  exit 1
fi
