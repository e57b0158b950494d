#!/usr/bin/env bash
# Sets up, cross-builds the Windows x86-64 converter and reader library into
# build-windows/ (MinGW-w64, the posix thread model; the lean static Xerces-C
# with the system's transcoder; GoogleTest from source) and runs the whole
# test suite under Wine through CTest. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
MORV_SETUP_EXTRA="g++-mingw-w64-x86-64-posix wine wine64 ${MORV_SETUP_EXTRA:-}" scripts/setup.sh
# The Wine server this run starts ends with the run.
trap 'WINEPREFIX="$PWD/build-windows/wine-prefix" wineserver -k 2>/dev/null || true' EXIT
cmake --preset windows >/dev/null
cmake --build build-windows -j"$(nproc)"
ctest --test-dir build-windows --output-on-failure -j"$(nproc)"
