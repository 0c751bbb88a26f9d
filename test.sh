#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds and runs every test, then builds
# everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs it again, and the
# engine's tests once more under ThreadSanitizer, and fuzzes every parser of outside input briefly.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}" "${OFFICE_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
jobs=$(nproc)

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "== layers (no include points upward; a folder, a library)"
scripts/check-layers.py

echo "== build and test"
# Optimised as shipped, without debug information (the sanitizer builds carry it): a quarter less
# compile time.
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j"$jobs"
# The tests run with the system read-only but for /tmp and the build folder: one that writes
# anywhere else fails instead of changing the machine.
scripts/read-only-system.sh build/test ctest --test-dir build/test --output-on-failure -j"$jobs"

echo "== sanitizers"
# Line tables are all a sanitizer's report needs; full debug information costs an eighth more
# build time.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DFERRET_SANITIZE=ON -DFERRET_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
# The patch of all /usr/include is the same code as the small patch test, over four copies of
# the tree: the plain build's run of it is enough.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    scripts/read-only-system.sh build/asan ctest --test-dir build/asan --output-on-failure -j"$jobs" \
    -E "DiffRun.APatchOfUsrIncludeAppliesToOtherCopies"
echo "== thread sanitizer (the engine's threaded stages)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DFERRET_TSAN=ON \
    -DFERRET_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target ferret_unit_tests
TSAN_OPTIONS=halt_on_error=1 scripts/read-only-system.sh build/tsan build/tsan/ferret_unit_tests \
    --gtest_brief=1
echo "== fuzzing (a few seconds per parser of outside input)"
scripts/fuzz.sh 8
echo "== all tests passed ($((SECONDS / 60)) min $((SECONDS % 60)) s)"
