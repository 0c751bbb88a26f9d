#!/usr/bin/env bash
# Installs what Ferret needs, builds it and runs it with the given arguments:
#   ./run.sh --help
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}" "${OFFICE_PACKAGES[@]}"
log=build/release-build.log
mkdir -p build
if ! { cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DFERRET_BUILD_TESTS=OFF -DFERRET_BUILD_BENCH=OFF &&
       cmake --build build/release --target ferret -j"$(nproc)"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "run.sh: the build failed; the whole log is in $log" >&2
    exit 1
fi
exec build/release/ferret "$@"
