#!/usr/bin/env bash
# Times a literal replace across a copy of a large real tree against
# `rg -l -F TEXT DIR | xargs sed -i 's/TEXT/NEW/g'`. Usage: bench/replace.sh BUILD_DIR
# Both work on *.h files of a fresh copy of /usr/include each run (links resolved); the best of
# RUNS runs counts. Ferret flushes every rewritten file to disk; sed does not.
set -euo pipefail
build=${1:?usage: bench/replace.sh BUILD_DIR}
runs=${RUNS:-3}
text=${TEXT:-__THROW}
new=${NEW:-__THROW_X}
command -v rg >/dev/null || { echo "ripgrep (rg) is needed: apt-get install ripgrep" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-replace-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
cp -rL /usr/include "$work/master" 2>/dev/null || true

fresh() { rm -rf "$work/tree"; cp -a "$work/master" "$work/tree"; sync; cat $(find "$work/tree" -name '*.h') >/dev/null; }
timed() {  # seconds taken by "$@"
    local start end
    start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
best() { sort -n | head -n 1; }
pipeline() { rg -l -F "$text" -g '*.h' "$work/tree" | xargs -r sed -i "s/$text/$new/g"; }

ferret_times=$(for _ in $(seq "$runs"); do fresh; timed "$build/ferret" -p "$work/tree" -k "*.h" -b -s "$text" -r "$new" -e:replace -l "$work/report.txt" -x; echo; done | best)
fresh; "$build/ferret" -p "$work/tree" -k "*.h" -b -s "$text" -r "$new" -e:replace -l "$work/report.txt" -x
ferret_left=$(rg --count-matches -F "$new" -g '*.h' "$work/tree" | awk -F: '{s+=$NF} END {print s}')
pipe_times=$(for _ in $(seq "$runs"); do fresh; timed pipeline; echo; done | best)
fresh; pipeline
pipe_left=$(rg --count-matches -F "$new" -g '*.h' "$work/tree" | awk -F: '{s+=$NF} END {print s}')
echo "tree: $(find "$work/master" -name '*.h' | wc -l) .h files; $(grep -o 'found [0-9]* times in [0-9]* files' "$work/report.txt")"
echo "replacements present afterwards: ferret $ferret_left, rg|sed $pipe_left"
echo "ferret replace:   ${ferret_times} s"
echo "rg -l | sed -i:   ${pipe_times} s"
echo "ferret/(rg|sed) = $(awk -v a="$ferret_times" -v b="$pipe_times" 'BEGIN{printf "%.2f", a/b}')"
