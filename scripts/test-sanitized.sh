#!/usr/bin/env bash
# Sets up, builds the whole test suite with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking into build-sanitize/, and runs
# it; then the tests of the code that runs threads under ThreadSanitizer
# (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The lean Xerces-C that build/ has already built, if any, is linked as it is.
lean=$PWD/build/xerces-lean/install
[[ -f "$lean/lib/libxerces-c.a" ]] || lean=
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_SANITIZE=ON \
  -DMORV_XERCES_LEAN_PREFIX="$lean" >/dev/null
cmake --build build-sanitize -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)"

# Threads run beside fills of large buffers (their own tests, and a
# conversion of a document large enough to start them) and in programs that
# use the library from several threads (the XML platform's guards and readers
# on threads of their own).
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_SANITIZE_THREAD=ON \
  -DMORV_XERCES_LEAN_PREFIX="$lean" >/dev/null
cmake --build build-tsan -j"$(nproc)" --target prefaulter_test morvconv_test xmlplatform_test
export TSAN_OPTIONS=halt_on_error=1
build-tsan/tests/prefaulter_test
build-tsan/tests/morvconv_test
build-tsan/tests/xmlplatform_test
