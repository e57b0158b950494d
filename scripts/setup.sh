#!/usr/bin/env bash
# Installs what building and testing morv_conv needs on Debian or Ubuntu:
# a C++ compiler, CMake, Xerces-C, ICU and GoogleTest. Uses sudo only when not
# root. Does nothing when everything is already there.
set -euo pipefail

packages=(g++ cmake make libxerces-c-dev libicu-dev libgtest-dev)
if [[ "${MORV_SETUP_EXTRA:-}" != "" ]]; then
  read -r -a extra <<<"${MORV_SETUP_EXTRA}"
  packages+=("${extra[@]}")
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
