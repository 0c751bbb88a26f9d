#!/usr/bin/env bash
# Builds the Debian package of Ferret in build/package and prints its path:
#   scripts/package.sh
# Install it with: sudo apt-get install ./build/package/ferret_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# dpkg-dev brings dpkg-shlibdeps, which works out the package's library dependencies.
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}" dpkg-dev
build=build/package
log=build/package.log
mkdir -p build
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DFERRET_BUILD_TESTS=OFF -DFERRET_BUILD_BENCH=OFF &&
       cmake --build "$build" -j"$(nproc)" &&
       (cd "$build" && cpack -G DEB); } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package.sh: building the package failed; the whole log is in $log" >&2
    exit 1
fi
package=$(ls -t "$build"/ferret_*.deb | head -n 1)
echo "$(pwd)/$package"
