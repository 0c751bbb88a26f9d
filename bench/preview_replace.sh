#!/usr/bin/env bash
# Preview Replace of a large replace over /usr/include (about 7,000 files change) in the real
# window on the offscreen platform, against a search of the same text: when the first files show,
# when the preview is complete, and the longest stall of the window. Nothing is written.
#   bench/preview_replace.sh BUILD_DIR [FOLDER] [SEARCH] [REPLACE]
set -euo pipefail
build=${1:?usage: bench/preview_replace.sh BUILD_DIR [FOLDER] [SEARCH] [REPLACE]}
folder=${2:-/usr/include}
search=${3:-const}
replace=${4:-CONST}
[ -x "$build/preview_replace_bench" ] || { echo "no $build/preview_replace_bench: build the benchmarks first" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-preview-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/data"
export QT_QPA_PLATFORM=offscreen HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_HOME="$work/data"
find "$folder" -type f -exec cat {} + >/dev/null 2>&1 || true  # warm the cache
# Nine runs, each printed, then the medians: one run on a machine that is busy says little.
for run in 1 2 3 4 5 6 7 8 9; do
    "$build/preview_replace_bench" "$folder" "$search" "$replace" 2>/dev/null
done | tee "$work/runs"
awk '{ search[NR] = $2
       for (i = 1; i <= NF; ++i) {
           if ($i == "complete") complete[NR] = $(i + 1)
           if ($i == "first") first[NR] = $(i + 2)
       }
       ratio[NR] = complete[NR] / search[NR] }
     function median(a, n,   i, j, t, b) {
         for (i = 1; i <= n; ++i) b[i] = a[i];
         for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (b[j] < b[i]) { t = b[i]; b[i] = b[j]; b[j] = t }
         return b[int((n + 1) / 2)] }
     END { printf "median of %d runs: search %.3f s, first files %.3f s, preview complete %.3f s, %.2f x the search\n",
                  NR, median(search, NR), median(first, NR), median(complete, NR), median(ratio, NR) }' "$work/runs"
