#!/usr/bin/env bash
# What restore points cost a replace run: the same literal replace across a fresh copy of
# /usr/include (*.h, links resolved) with restore points (the default) and without them
# ("RestoreQuantity" 0). Usage: bench/restore.sh BUILD_DIR. The best of RUNS runs counts; the
# restore points go to the same disk as the tree.
set -euo pipefail
build=${1:?usage: bench/restore.sh BUILD_DIR}
runs=${RUNS:-3}
text=${TEXT:-__THROW}
new=${NEW:-__THROW_X}
work=$(mktemp -d /tmp/ferret-restore-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CONFIG_HOME/Mallo"
cp -rL /usr/include "$work/master" 2>/dev/null || true

fresh() { rm -rf "$work/tree" "$XDG_DATA_HOME/ferret/restore"; cp -a "$work/master" "$work/tree"; sync; cat $(find "$work/tree" -name '*.h') >/dev/null; }
keep() { printf '[General]\nRestoreQuantity=%s\n' "$1" >"$XDG_CONFIG_HOME/Mallo/Ferret.conf"; }
timed() {  # seconds taken by "$@"
    local start end
    start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
best() { sort -n | head -n 1; }
replace() { "$build/ferret" -p "$work/tree" -k "*.h" -b -s "$text" -r "$new" -e:replace -l "$work/report.txt" -x; }

keep 0
without=$(for _ in $(seq "$runs"); do fresh; timed replace; echo; done | best)
keep 10
with=$(for _ in $(seq "$runs"); do fresh; timed replace; echo; done | best)
kept=$(find "$XDG_DATA_HOME/ferret/restore" -path '*/files/*' -type f | wc -l)
bytes=$(du -sb "$XDG_DATA_HOME/ferret/restore" | cut -f1)
echo "tree: $(find "$work/master" -name '*.h' | wc -l) .h files; $(grep -o 'found [0-9]* times in [0-9]* files' "$work/report.txt")"
echo "restore point: $kept copies, $bytes bytes"
echo "replace without restore points: ${without} s"
echo "replace with restore points:    ${with} s"
echo "with/without = $(awk -v a="$with" -v b="$without" 'BEGIN{printf "%.2f", a/b}')"
