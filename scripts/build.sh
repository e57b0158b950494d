#!/usr/bin/env bash
# Configures and builds morv_conv and its tests in Release mode into build/.
# Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build -j"$(nproc)"
