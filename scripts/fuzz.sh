#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang and runs each for SECONDS (default 20) from its
# seed corpus. Prints one line per target: executions and findings (the saved crash input, or 0).
# Exits non-zero when any target finds something. Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
duration="${1:-20}"
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -eq 0 ]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

source scripts/packages.sh
# libFuzzer itself comes with the compiler runtime package, which clang only recommends.
scripts/setup-deps.sh "${BUILD_PACKAGES[@]}" clang libclang-rt-dev
jobs=$(nproc)

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DFERRET_FUZZ=ON -DFERRET_BUILD_TESTS=OFF \
    -DFERRET_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target ferret_fuzz

# The profile writers flush every file to disk; on a memory file system that costs nothing, so
# the runs get many more executions there.
base="${TMPDIR:-/tmp}"
if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ]; then
    base=/dev/shm
fi
work=$(mktemp -d "$base/ferret-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
repo=$PWD
findings_root="$repo/$build/findings"

# Longest input per target: a long command line, a profile or settings file of some size, and
# short patterns and names (the reference matchers are quadratic), and small archives.
declare -A max_len=([command_line]=1024 [profile]=4096 [settings]=4096 [mask]=1024 [regex]=512
                    [plain_scan]=2048 [ignore_rules]=4096 [archive]=4096)
targets=(command_line profile settings mask regex plain_scan ignore_rules archive)
# libarchive sizes some buffers by what a header declares (a cpio name's length) before reading
# them: the address space is reserved, but only what the file holds is ever filled. Resident
# memory (-rss_limit_mb) is the bound that matters there, not the size of one allocation.
declare -A options=([archive]="-malloc_limit_mb=16384")

failed=0
results=()
for target in "${targets[@]}"; do
    name="${target}_fuzz"
    corpus="$work/corpus/$name"
    findings="$findings_root/$name"
    log="$work/$name.log"
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings" "$work/tmp/$name"
    # A copy, so the committed seeds do not grow.
    cp fuzz/corpus/"$name"/* "$corpus"/
    dict=()
    if [ -f "fuzz/$name.dict" ]; then
        dict=(-dict="$repo/fuzz/$name.dict")
    fi
    echo "== $name: ${duration}s"
    status=0
    # Each target runs in its own temporary folder, which it also takes for its files.
    (cd "$work/tmp/$name" &&
        TMPDIR="$work/tmp/$name" UBSAN_OPTIONS=print_stacktrace=1 \
            "$repo/$build/$name" -max_total_time="$duration" -timeout=10 \
            -max_len="${max_len[$target]}" ${options[$target]:-} -print_final_stats=1 \
            -artifact_prefix="$findings/" "${dict[@]}" "$corpus") >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$findings" -type f | sort | head -n 1)
    if [ "$status" -ne 0 ] || [ -n "$found" ]; then
        failed=1
        tail -n 40 "$log"
        results+=("$(printf '%-20s %12s  %s' "$name" "${executions:-?}" "${found:-exit $status}")")
    else
        rm -rf "$findings"
        results+=("$(printf '%-20s %12s  %s' "$name" "${executions:-?}" 0)")
    fi
done

echo "== fuzzing, ${duration}s per target"
printf '%-20s %12s  %s\n' target executions findings
printf '%s\n' "${results[@]}"
if [ "$failed" -ne 0 ]; then
    echo "== fuzzing found problems; reproduce one with: $build/<target> <finding>" >&2
    exit 1
fi
