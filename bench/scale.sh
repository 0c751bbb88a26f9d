#!/usr/bin/env bash
# Scale checks with peak memory: one million files in a deep tree (the walk and a whole run
# with its report), 100,000 result records through every report form in the window, and a few
# hundred runs paused, resumed and stopped at random moments. Usage: bench/scale.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/scale.sh BUILD_DIR}
for tool in walk_bench view_bench stress_bench ferret; do
    [ -x "$build/$tool" ] || { echo "no $build/$tool: build the benchmarks first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/ferret-scale-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
peak() {  # runs "$@", prints its output and its peak memory
    /usr/bin/time -f "    peak memory %M KB, %e s" "$@" 2>&1 | grep -v "^QStandardPaths\|propagateSizeHints"
}

echo "== one million files, six folders deep (5 x 5 x 5 x 5 x 5 x 5 folders, 64 files each)"
python3 - "$work/deep" <<'PY'
import itertools, os, sys
root = sys.argv[1]
for path in itertools.product(range(5), repeat=6):
    leaf = os.path.join(root, *(f"d{p}" for p in path))
    os.makedirs(leaf)
    for i in range(64):
        with open(os.path.join(leaf, f"f{i:02d}.txt"), "w") as f:
            if i == 0:
                f.write("needle\n")
PY
find "$work/deep" -type f >/dev/null  # warm the cache
echo "walk:"
peak "$build/walk_bench" "$work/deep"
echo "whole run with the summary and file list written (headless):"
peak env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$build/ferret" -p "$work/deep" -k "*.txt" \
    -b -s needle -e:search -l "$work/report.txt" -x
echo "    report: $(wc -l <"$work/report.txt") lines"
rm -rf "$work/deep"

echo "== 100,000 result records through every report form (window, offscreen)"
python3 - "$work/tree" <<'PY'
import os, sys
root = sys.argv[1]
for n in range(100000):
    folder = os.path.join(root, f"d{n // 10000}", f"e{(n // 100) % 100:02d}")
    if n % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"page{n % 100:03d}.html"), "w") as f:
        f.write("<p>a needle in the hay</p>\n")
PY
for type in 0 1 2 3; do
    echo "report type $type:"
    QT_QPA_PLATFORM=offscreen peak "$build/view_bench" "$work/tree" "$type"
done
rm -rf "$work/tree"

echo "== runs paused, resumed and stopped at random moments (2,000 files)"
python3 - "$work/small" <<'PY'
import os, sys
root = sys.argv[1]
for n in range(2000):
    folder = os.path.join(root, f"d{n // 100}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"f{n}.txt"), "w") as f:
        f.write("needle " * (n % 7) + "hay\n" * 200)
PY
peak "$build/stress_bench" "$work/small" needle 300
