#!/usr/bin/env bash
# Installs what Ferret needs, builds it and runs it with the given arguments:
#   ./run.sh --help
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFERRET_BUILD_TESTS=OFF \
    -DFERRET_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target ferret -j"$(nproc)" >/dev/null
exec build/release/ferret "$@"
