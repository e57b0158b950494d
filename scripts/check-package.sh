#!/usr/bin/env bash
# Checks what users of the installed package get, from build/ (which
# scripts/test.sh has made): the package installed into a fresh prefix and
# used from outside the tree by examples/consumer (right table files, only an
# edited document converted again, a refused document failing the build with
# the converter's message), the manual page rendering without warnings, and
# the Debian packages' contents and dependencies, with the packaged converter
# converting the example document.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-package: $*" >&2
  exit 1
}

echo "check-package: install and use from outside the tree"
cmake --install build --prefix "$work/prefix" >/dev/null
cp -r examples "$work/examples"  # a copy whose documents may be edited
consumer=$work/consumer
cmake -S "$work/examples/consumer" -B "$consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$consumer" >/dev/null
cmp "$consumer/tables/blink.bin" examples/blink.expected.bin || fail "blink.bin differs"
cmp "$consumer/tables/wave.bin" examples/consumer/documents/wave.expected.bin ||
  fail "wave.bin differs"
"$consumer/print_head" "$work/examples/blink.xml" | grep -q "^steps      36$" ||
  fail "print_head did not read the example's head"
"$consumer/check_library" "$work/examples/blink.xml" >/dev/null ||
  fail "the library's limits, failure positions or errors are not what a user relies on"

echo "check-package: the installed headers are the library's public face"
installed=$(cd "$work/prefix/include/IntermediateFileParser" && find . -type f | sort)
public=$(cd IntermediateFileParser && find . -maxdepth 1 -name '*.h' | sort)
[[ "$installed" == "$public" ]] ||
  fail "installed headers differ from IntermediateFileParser/*.h:"$'\n'"$installed"

echo "check-package: added with add_subdirectory, the project brings no tests"
parent=$work/parent
mkdir -p "$parent"
cat >"$parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(parent LANGUAGES CXX)
enable_testing()
add_subdirectory("$PWD" morv_conv)
CMAKE
cmake -S "$parent" -B "$parent/build" >/dev/null
[[ $(ctest --test-dir "$parent/build" -N | tail -1) == "Total Tests: 0" ]] ||
  fail "the project added tests to a parent project"

echo "check-package: an edited document, and only it, is converted again"
blink_before=$(stat -c %Y.%y "$consumer/tables/blink.bin")
sleep 1
sed -i 's|<palette_idx size="8">0 0 0 0 0 0 0 0</palette_idx>|<palette_idx size="8">0 0 0 0 1 1 1 1</palette_idx>|' \
  "$work/examples/consumer/documents/wave.xml"
log=$(cmake --build "$consumer")
grep -q "Converting documents/wave.xml" <<<"$log" || fail "the edited document was not converted"
grep -q "Converting ../blink.xml" <<<"$log" && fail "an unchanged document was converted again"
[[ $(stat -c %Y.%y "$consumer/tables/blink.bin") == "$blink_before" ]] || fail "blink.bin was rewritten"
[[ $(od -An -tu1 -j32 -N4 "$consumer/tables/wave.bin" | xargs) == "1 1 1 1" ]] ||
  fail "wave.bin does not hold the edited palettes"

echo "check-package: a refused document fails the build with the converter's message"
printf '<r><body><frame_idx size="2">1</frame_idx></body></r>' >"$work/examples/consumer/documents/wave.xml"
if log=$(cmake --build "$consumer" 2>&1); then fail "the build passed a refused document"; fi
expected=$(printf '\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x8e\xb8\x94\x73 ')  # "読み込み失敗 " in Shift_JIS
grep -aqF "$expected$work/examples/consumer/documents/wave.xml" <<<"$log" ||
  fail "the build did not show the converter's message"

echo "check-package: the manual page renders without warnings"
for locale in C C.UTF-8; do
  warnings=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l man/morv_conv.1 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "man page warnings in $locale: $warnings"
done

echo "check-package: Debian packages"
(cd build && rm -f ./*.deb && cpack -G DEB >/dev/null 2>&1) || fail "cpack failed"
runtime=$(ls build/morv-conv_*.deb)
development=$(ls build/morv-conv-dev_*.deb)
contents=$(dpkg-deb -c "$runtime" | awk '{print $6}')
for file in ./usr/bin/morv_conv ./usr/share/man/man1/morv_conv.1; do
  grep -qx "$file" <<<"$contents" || fail "$runtime lacks $file"
done
dpkg-deb -x "$runtime" "$work/deb"
# A converter linked statically needs no shared library, so no package for
# one; a converter that needs the C library says so.
depends=$(dpkg-deb -f "$runtime" Depends)
if readelf -d "$work/deb/usr/bin/morv_conv" | grep -q "(NEEDED)"; then
  grep -q "libc6" <<<"$depends" || fail "$runtime does not depend on libc6"
fi
grep -Eq "curl|xerces" <<<"$depends" && fail "$runtime depends on a network library"
contents=$(dpkg-deb -c "$development" | awk '{print $6}')
for file in ./usr/include/IntermediateFileParser/MorvDocReader.h \
  ./usr/lib/cmake/morv_conv/morv_convConfig.cmake ./usr/lib/libifp.a; do
  grep -qx "$file" <<<"$contents" || fail "$development lacks $file"
done
grep -q "/internal/" <<<"$contents" && fail "$development carries a private header"
dpkg-deb -f "$development" Depends | grep -q "morv-conv (= " || fail "$development misses morv-conv"
"$work/deb/usr/bin/morv_conv" examples/blink.xml "$work/blink.bin"
cmp "$work/blink.bin" examples/blink.expected.bin || fail "the packaged converter's table differs"
echo "check-package: all good"
