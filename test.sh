#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds and runs every test, then builds
# the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them again.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}" "${OFFICE_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
jobs=$(nproc)

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "== build and test"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j"$jobs"
ctest --test-dir build/test --output-on-failure -j"$jobs"

echo "== sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFERRET_SANITIZE=ON \
    -DFERRET_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs"
echo "== all tests passed"
