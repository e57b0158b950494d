#!/usr/bin/env bash
# Sets up, builds, converts the example document, shows the table file with
# morv_dump and checks it against the document.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --preset default >/dev/null
cmake --build --preset default --target morv_conv morv_dump >/dev/null

in=examples/blink.xml
out=build/blink.bin
build/converter/morv_conv "$in" "$out"
echo "$out: $(stat -c %s "$out") bytes; its first steps:"
build/converter/dump/morv_dump "$out" | head -n 14
build/converter/dump/morv_dump --svg build/blink.svg "$out"
echo "its timeline: build/blink.svg"
if build/converter/dump/morv_dump --document "$in" "$out" && cmp -s "$out" examples/blink.expected.bin; then
  echo "the document's table, the same as examples/blink.expected.bin"
else
  echo "differs from examples/blink.expected.bin" >&2
  exit 1
fi
