#!/usr/bin/env bash
# Sets up, cross-builds the Windows x86-64 converter and reader library into
# build-windows/ (MinGW-w64, the posix thread model; the lean static Xerces-C
# with the system's transcoder; GoogleTest from source) and runs the whole
# test suite under Wine through CTest. Then packs the zip (cpack -G ZIP): its
# morv_dump must print the example's table as on Linux; and builds
# examples/consumer against it with the same toolchain: its tables, converted
# under Wine at build time, its programs and its tables' checks (morv_dump
# under Wine) must come out right.
# Last, scripts/compare-windows.sh compares it with the Linux converter.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh windows
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
root=$PWD
work=$root/build-windows/package-check
# The Wine servers this run starts end with the run.
trap 'for prefix in "$root/build-windows/wine-prefix" "$work/consumer/wine-prefix"; do
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
      done' EXIT
# The test preset runs a failing test once more before it counts as failed:
# under load, a program has now and then failed to start at all under Wine
# (a failure in a few hundredths of a second, before any test code ran), and
# passed when run again.
cmake --workflow --preset windows

fail() {
  echo "test-windows: $*" >&2
  exit 1
}
rm -rf "$work"
mkdir -p "$work/unpacked"
(cd build-windows && cpack -G ZIP -B "$work" >/dev/null)
zip=("$work"/morv-conv-*-windows-x86_64.zip)
[[ -f "${zip[0]}" ]] || fail "cpack made no zip"
unzip -q "${zip[0]}" -d "$work/unpacked"
prefix=("$work"/unpacked/morv-conv-*)
for file in bin/morv_conv.exe bin/morv_dump.exe README.md licenses/xerces-c-LICENSE.txt; do
  [[ -f "${prefix[0]}/$file" ]] || fail "the zip has no $file"
done
# The same bytes as on Linux: a data format is written without CR LF.
scripts/wine-run.sh "$root/build-windows/wine-prefix" "${prefix[0]}/bin/morv_dump.exe" \
  --format json examples/blink.expected.bin | cmp -s - tests/data/dump/blink.json ||
  fail "the zip's morv_dump prints the example's table otherwise"
cmake -S examples/consumer -B "$work/consumer" --toolchain "$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_PREFIX_PATH=${prefix[0]}" >/dev/null
cmake --build "$work/consumer" -j"$(nproc)" >/dev/null
cmp -s "$work/consumer/tables/blink.bin" examples/blink.expected.bin ||
  fail "the consumer's blink table differs"
cmp -s "$work/consumer/tables/wave.bin" examples/consumer/documents/wave.expected.bin ||
  fail "the consumer's wave table differs"
scripts/wine-run.sh "$work/consumer/wine-prefix" "$work/consumer/print_head.exe" \
  examples/blink.xml | tr -d '\r' | grep -q "^steps      36$" ||
  fail "print_head did not read the example's head"
scripts/wine-run.sh "$work/consumer/wine-prefix" "$work/consumer/check_library.exe" \
  examples/blink.xml >/dev/null ||
  fail "the library's limits, failure positions or errors are not what a user relies on"
scripts/wine-run.sh "$work/consumer/wine-prefix" "$work/consumer/print_table.exe" \
  examples/blink.expected.bin | tr -d '\r' | grep -q "^last step  frame 140, texture 1, palette 1$" ||
  fail "print_table did not read the example's table"
ctest --test-dir "$work/consumer" --no-tests=error --output-on-failure >/dev/null ||
  fail "the consumer's tables' checks failed"
echo "test-windows: the zip and a consumer of it work"

# The Linux and the Windows converter over the same few hundred documents:
# the same statuses, tables and messages (about 45 s).
scripts/compare-windows.sh
