#!/usr/bin/env bash
# Installs what building and testing morv_conv needs on Debian or Ubuntu:
# a C++ compiler, CMake, Xerces-C, ICU and GoogleTest, librsvg2-bin for
# rendering the timelines the tests draw, and dpkg-dev for unpacking source
# packages; and what each named group needs besides:
#   scripts/setup.sh [windows] [package] [bench] [fuzz] [format]
# Uses sudo only when not root. Then fetches the distribution's source
# package of the installed Xerces-C (Debian's patches applied) into
# .cache/xerces-c/<version>/source, from which the build makes its own
# static, network-free Xerces-C. Does nothing when everything is already
# there. Every package the project needs is named here and nowhere else.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(g++ cmake make libxerces-c-dev libicu-dev libgtest-dev librsvg2-bin dpkg-dev)
for group in "$@"; do
  case "$group" in
    # The cross build and its tests under Wine, the zip, the comparison.
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 unzip python3) ;;
    # The manual page check and the Debian packages' contents.
    package) packages+=(man-db groff-base) ;;
    # The benchmark: the microbenchmark library, the instruction counts.
    bench) packages+=(libbenchmark-dev valgrind python3) ;;
    # libFuzzer and its sanitizers' run-time.
    fuzz) packages+=(clang libclang-rt-dev) ;;
    # The formatting check and the clean clone CI works in.
    format) packages+=(clang-format git) ;;
    *)
      echo "setup: unknown group $group (windows, package, bench, fuzz, format)" >&2
      exit 2
      ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The source package that built the installed library, at the same version.
read -r source version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' libxerces-c-dev)
if [[ -z "${version:-}" ]]; then
  echo "setup: libxerces-c-dev is not installed" >&2
  exit 1
fi
version=${version#*:}
cache=$root/.cache/xerces-c
target=$cache/$version/source
[[ -f "$target/CMakeLists.txt" ]] && exit 0

# A private apt state: deb-src twins of the machine's own deb entries, its
# own index lists and package cache. The machine's configuration and state
# stay untouched; the archive signatures are checked as for any update.
work=$cache/$version/fetch
rm -rf "$work"
mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/cache/archives/partial" \
  "$work/download"
eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
one_line=()
[[ -f "$list" ]] && one_line+=("$list")
for file in "$parts"*.list; do [[ -f "$file" ]] && one_line+=("$file"); done
if [[ ${#one_line[@]} -gt 0 ]]; then
  # "deb [options] uri suite components" becomes "deb-src ...".
  sed -n -E 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "${one_line[@]}" \
    >"$work/sources.list.d/machine-src.list"
fi
for file in "$parts"*.sources; do
  [[ -f "$file" ]] || continue
  # deb822 stanzas: every stanza offering binary or source packages is kept
  # with its type set to source packages; continuation lines stay as they are.
  awk 'BEGIN { RS = "" }
       {
         n = split($0, lines, "\n"); wanted = 0; out = ""
         for (i = 1; i <= n; i++) {
           if (tolower(lines[i]) ~ /^types:/) {
             if (lines[i] ~ /[:[:space:]]deb(-src)?([[:space:]]|$)/) wanted = 1
             lines[i] = "Types: deb-src"
           }
           out = out lines[i] "\n"
         }
         if (wanted) printf "%s\n", out
       }' "$file" >"$work/sources.list.d/machine-src-$(basename "$file")"
done

apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources.list.d"
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
echo "setup: fetching the source package $source $version" >&2
# An index that cannot be had (a third-party archive without source
# packages) does not matter as long as the package itself can be fetched.
"${apt[@]}" update >"$work/update.log" 2>&1 || true
if ! (cd "$work/download" && "${apt[@]}" source --download-only "$source=$version") \
  >"$work/source.log" 2>&1; then
  cat "$work/update.log" "$work/source.log" >&2
  echo "setup: could not fetch the source package $source $version (if the archive has a" \
    "newer one, upgrading libxerces-c-dev to it helps)" >&2
  exit 1
fi
# dpkg-source checks the files against the description's checksums and
# applies the distribution's patches.
if ! dpkg-source -x "$work/download/${source}_${version}.dsc" "$work/unpacked" \
  >"$work/unpack.log" 2>&1; then
  cat "$work/unpack.log" >&2
  exit 1
fi
mv "$work/unpacked" "$target"
rm -rf "$work"
