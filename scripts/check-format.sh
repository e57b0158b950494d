#!/usr/bin/env bash
# Fails when clang-format (with the repository's .clang-format) would change
# any C++ source of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "check-format: ${#sources[@]} files formatted"
