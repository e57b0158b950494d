#!/usr/bin/env bash
# Checks what users of the installed package get, from build/ (which
# scripts/test.sh has made): the package installed into a fresh prefix and
# used from outside the tree by examples/consumer (right table files, read
# back by the reader of table files and checked against their documents by
# morv_dump, a changed table failing its check, only an edited document
# converted again, a refused document failing the build with the
# converter's message), the manual pages rendering without warnings, and the
# Debian packages' contents and dependencies, with the packaged programs
# converting the example document, printing its table and checking it.
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
"$consumer/print_table" "$consumer/tables/blink.bin" | grep -q "^last step  frame 140, texture 1, palette 1$" ||
  fail "print_table did not read the example's table"

echo "check-package: each table is checked against its document, and a changed one fails"
ctest --test-dir "$consumer" --no-tests=error >/dev/null || fail "the tables' checks failed"
cp -p "$consumer/tables/blink.bin" "$work/blink.kept"
printf '\x00' | dd of="$consumer/tables/blink.bin" bs=1 seek=147 conv=notrunc status=none
if log=$(ctest --test-dir "$consumer" -R pattern_tables.blink --output-on-failure 2>&1); then
  fail "the check passed a changed table"
fi
# "ステップ 35 の palette が違います: 文書 1、テーブル 0" in Shift_JIS
expected=$(printf '\x83\x58\x83\x65\x83\x62\x83\x76 35 \x82\xcc palette \x82\xaa\x88\xe1\x82\xa2\x82\xdc\x82\xb7: \x95\xb6\x8f\x91 1\x81\x41\x83\x65\x81\x5b\x83\x75\x83\x8b 0')
grep -aqF "$expected" <<<"$log" || fail "the check did not name the changed step"
cp -p "$work/blink.kept" "$consumer/tables/blink.bin"

echo "check-package: the installed headers are the library's public face"
installed=$(cd "$work/prefix/include/IntermediateFileParser" && find . -type f | sort)
public=$(cd IntermediateFileParser && find . -maxdepth 1 -name '*.h' | sort)
[[ "$installed" == "$public" ]] ||
  fail "installed headers differ from IntermediateFileParser/*.h:"$'\n'"$installed"
installed=$(cd "$work/prefix/include/converter" && find . -type f)
[[ "$installed" == "./TableFile.h" ]] || fail "installed converter headers: $installed"
# The reader library and its platform services carry none of the programs'
# code: no start-up, output file or clean-up on signals.
nm -C "$work/prefix/lib/libifp.a" "$work/prefix/lib/libmorv_platform.a" 2>/dev/null |
  grep -E " [TW] " | grep -qE "InitAppFramework|OutputFile|InPlaceFile|Temporary|PrepareCleanup" &&
  fail "the installed library carries the programs' code"

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

echo "check-package: the manual pages render without warnings"
for page in man/morv_conv.1 man/morv_dump.1; do
  for locale in C C.UTF-8; do
    warnings=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "$page warnings in $locale: $warnings"
  done
done

echo "check-package: Debian packages"
(cd build && rm -f ./*.deb && cpack -G DEB >/dev/null 2>&1) || fail "cpack failed"
runtime=$(ls build/morv-conv_*.deb)
development=$(ls build/morv-conv-dev_*.deb)
contents=$(dpkg-deb -c "$runtime" | awk '{print $6}')
for file in ./usr/bin/morv_conv ./usr/share/man/man1/morv_conv.1 ./usr/bin/morv_dump \
  ./usr/share/man/man1/morv_dump.1; do
  grep -qx "$file" <<<"$contents" || fail "$runtime lacks $file"
done
dpkg-deb -x "$runtime" "$work/deb"
# A converter linked statically needs no shared library, so no package for
# one; a converter that needs the C library says so.
depends=$(dpkg-deb -f "$runtime" Depends)
for program in morv_conv morv_dump; do
  if readelf -d "$work/deb/usr/bin/$program" | grep -q "(NEEDED)"; then
    grep -q "libc6" <<<"$depends" || fail "$runtime does not depend on libc6"
  fi
done
# The converter links nothing of morv_dump: not its code, not the table reader.
nm -C "$work/deb/usr/bin/morv_conv" 2>/dev/null | grep -qE "morv::dump::|morv::ReadTable" &&
  fail "morv_conv carries morv_dump's code"
grep -Eq "curl|xerces" <<<"$depends" && fail "$runtime depends on a network library"
contents=$(dpkg-deb -c "$development" | awk '{print $6}')
for file in ./usr/include/IntermediateFileParser/MorvDocReader.h \
  ./usr/include/converter/TableFile.h ./usr/lib/cmake/morv_conv/morv_convConfig.cmake \
  ./usr/lib/libifp.a ./usr/lib/libmorv_table.a; do
  grep -qx "$file" <<<"$contents" || fail "$development lacks $file"
done
grep -q "/internal/" <<<"$contents" && fail "$development carries a private header"
dpkg-deb -f "$development" Depends | grep -q "morv-conv (= " || fail "$development misses morv-conv"
"$work/deb/usr/bin/morv_conv" examples/blink.xml "$work/blink.bin"
cmp "$work/blink.bin" examples/blink.expected.bin || fail "the packaged converter's table differs"
"$work/deb/usr/bin/morv_dump" --format json "$work/blink.bin" | cmp - tests/data/dump/blink.json ||
  fail "the packaged morv_dump prints the table otherwise"
"$work/deb/usr/bin/morv_dump" --document examples/blink.xml "$work/blink.bin" ||
  fail "the packaged morv_dump finds the table is not the document's"
echo "check-package: all good"
