#!/usr/bin/env bash
# Times the file-list walk on a tree of 100,000 files against `find DIR -type f` and
# `fdfind -uu -t f`. Usage: bench/walk.sh BUILD_DIR [FILES]
# Each tool runs RUNS times on a warm cache; the best time counts.
set -euo pipefail
build=${1:?usage: bench/walk.sh BUILD_DIR [FILES]}
files=${2:-100000}
runs=${RUNS:-7}
tree=$(mktemp -d /tmp/ferret-walk-XXXXXX)
trap 'rm -rf "$tree"' EXIT

# 10 top folders x 10 subfolders x 10 leaf folders, files spread evenly over the leaves.
per_leaf=$(( (files + 999) / 1000 ))
python3 - "$tree" "$per_leaf" "$files" <<'PY'
import os, sys
root, per_leaf, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
made = 0
for a in range(10):
    for b in range(10):
        for c in range(10):
            leaf = os.path.join(root, f"d{a}", f"e{b}", f"f{c}")
            os.makedirs(leaf)
            for i in range(per_leaf):
                if made == total:
                    break
                with open(os.path.join(leaf, f"file{i:04d}.txt"), "w") as f:
                    f.write("x" * (i % 50))
                made += 1
PY

best() {  # best wall time in seconds of "$@" over $runs runs, output discarded
    local best_ns= start end
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        local took=$((end - start))
        if [ -z "$best_ns" ] || [ "$took" -lt "$best_ns" ]; then best_ns=$took; fi
    done
    awk -v ns="$best_ns" 'BEGIN { printf "%.4f", ns / 1e9 }'
}

find "$tree" -type f >/dev/null  # warm the cache
echo "tree: $files files in 1,111 folders ($tree)"
echo "listed: find $(find "$tree" -type f | wc -l); ferret: $("$build/walk_bench" "$tree")"
t_ferret=$(best "$build/walk_bench" "$tree")
t_find=$(best find "$tree" -type f)
echo "ferret walk:          ${t_ferret} s"
echo "find -type f:         ${t_find} s   (ferret/find = $(awk -v a="$t_ferret" -v b="$t_find" 'BEGIN{printf "%.2f", a/b}'))"
if command -v fdfind >/dev/null; then
    t_fd=$(best fdfind -uu -t f . "$tree")
    t_fd1=$(best fdfind -j1 -uu -t f . "$tree")
    echo "fdfind -uu -t f:      ${t_fd} s   (ferret/fdfind = $(awk -v a="$t_ferret" -v b="$t_fd" 'BEGIN{printf "%.2f", a/b}'))"
    echo "fdfind -j1 -uu -t f:  ${t_fd1} s   (ferret/fdfind-j1 = $(awk -v a="$t_ferret" -v b="$t_fd1" 'BEGIN{printf "%.2f", a/b}'))"
fi
