#!/usr/bin/env bash
# Fills the detailed list and the structured tree from a search over 100,000 files (all with a
# hit), and the hit-lines report of 100,000 files with ten hit lines each, in the real window on
# the offscreen platform; then the hit-lines report of one file with LINES hit lines (5,000,000 by
# default). Usage: bench/view.sh BUILD_DIR [FILES] [LINES]
set -euo pipefail
build=${1:?usage: bench/view.sh BUILD_DIR [FILES]}
files=${2:-100000}
lines=${3:-5000000}
[ -x "$build/view_bench" ] || { echo "no $build/view_bench: build the benchmarks first" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-view-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree" "$work/config" "$work/data"
python3 - "$work/tree" "$files" <<'PY'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
per_folder = 100
for n in range(total):
    folder = os.path.join(root, f"d{n // 10000}", f"e{(n // per_folder) % 100:02d}")
    if n % per_folder == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"page{n % per_folder:03d}.html"), "w") as f:
        f.write("<p>a needle in the hay</p>\n")
PY
export QT_QPA_PLATFORM=offscreen HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_HOME="$work/data"
echo "detailed list:   $("$build/view_bench" "$work/tree" 0 2>/dev/null)"
echo "structured tree: $("$build/view_bench" "$work/tree" 1 2>/dev/null)"

# The hit-lines report with a million hits: ten lines with a hit in each of 100,000 files.
rm -rf "$work/tree"
mkdir -p "$work/tree"
python3 - "$work/tree" "$files" <<'PY'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
per_folder = 100
for n in range(total):
    folder = os.path.join(root, f"d{n // 10000}", f"e{(n // per_folder) % 100:02d}")
    if n % per_folder == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"page{n % per_folder:03d}.html"), "w") as f:
        for line in range(10):
            f.write(f"<p>line {line}: a needle in the hay</p>\n")
PY
echo "hit lines (1,000,000 hits):"
"$build/view_bench" "$work/tree" 4 2>/dev/null | sed 's/^/  /'

# The hit-lines report of one file with a hit on every line: its places are kept, their texts
# read when drawn.
rm -rf "$work/tree"
mkdir -p "$work/tree"
python3 - "$work/tree/big.log" "$lines" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    step = 100000
    for start in range(0, int(sys.argv[2]), step):
        f.write("".join(f"{n} a needle in the hay\n" for n in range(start, min(start + step, int(sys.argv[2])))))
PY
echo "hit lines ($lines hits in one file):"
"$build/view_bench" "$work/tree" 4 2>/dev/null | sed 's/^/  /'
