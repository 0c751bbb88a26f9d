#!/usr/bin/env bash
# Times an unattended search of a large real tree against ripgrep and grep, caches warm.
#   bench/search.sh BUILD_DIR [TREE]
# TREE defaults to a copy of /usr/include and /usr/share/doc with links resolved, so that every
# tool sees the same files (ferret follows folder links, ripgrep does not). Each command runs
# RUNS times; the best time counts. Peak memory is the largest resident size of any run.
set -euo pipefail
build=${1:?usage: bench/search.sh BUILD_DIR [TREE]}
tree=${2:-}
runs=${RUNS:-5}
plain=${PLAIN:-return}
pattern=${PATTERN:-'[A-Z_]+_MAX\b'}
command -v rg >/dev/null || { echo "ripgrep (rg) is needed: apt-get install ripgrep" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-search-XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ -z "$tree" ]; then
    tree=$work/tree
    mkdir -p "$tree"
    cp -rL /usr/include "$tree/" 2>/dev/null || true
    cp -rL /usr/share/doc "$tree/" 2>/dev/null || true
fi
find "$tree" -type f -exec cat {} + >/dev/null 2>&1 || true  # warm the cache
ferret=$build/ferret
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

best() {  # best wall time (s) and peak memory (KB) of "$@" over $runs runs
    local best= peak=0 line t m
    for _ in $(seq "$runs"); do
        /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>&1
        line=$(tail -n 1 "$work/time")
        t=${line% *}; m=${line#* }
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$t; fi
        [ "$m" -gt "$peak" ] && peak=$m
    done
    echo "$best $peak"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }

echo "tree: $tree ($(du -sh "$tree" | cut -f1), $(find "$tree" -type f | wc -l) files)"
fp=$(best "$ferret" -p "$tree" -k "*.*" -b -s "$plain" -e:search -l "$work/plain.txt" -x)
rp=$(best rg -uuu -j2 --count-matches -F "$plain" "$tree")
gp=$(best sh -c "grep -r -o -F '$plain' '$tree' | wc -l")
fx=$(best "$ferret" -p "$tree" -k "*.*" -b -s "$pattern" -rx -e:search -l "$work/pattern.txt" -x)
rx=$(best rg -uuu -j2 --count-matches "$pattern" "$tree")
"$ferret" -p "$tree" -k "*.*" -b -s "$plain" -e:search -l "$work/plain.txt" -x
"$ferret" -p "$tree" -k "*.*" -b -s "$pattern" -rx -e:search -l "$work/pattern.txt" -x
echo "hits: ferret plain $(grep -o 'found [0-9]* times' "$work/plain.txt"), rg plain $(rg -uuu -j2 --count-matches -F "$plain" "$tree" | awk -F: '{s+=$NF} END {print s}')"
echo "hits: ferret pattern $(grep -o 'found [0-9]* times' "$work/pattern.txt"), rg pattern $(rg -uuu -j2 --count-matches "$pattern" "$tree" | awk -F: '{s+=$NF} END {print s}')"
printf '%-34s %8s %10s\n' "command" "best s" "peak KB"
printf '%-34s %8s %10s\n' "ferret plain '$plain'" ${fp}
printf '%-34s %8s %10s\n' "rg -F (plain)" ${rp}
printf '%-34s %8s %10s\n' "grep -r -o -F | wc -l" ${gp}
printf '%-34s %8s %10s\n' "ferret -rx '$pattern'" ${fx}
printf '%-34s %8s %10s\n' "rg (pattern)" ${rx}
echo "plain:   ferret/rg = $(ratio ${fp% *} ${rp% *}), ferret/grep = $(ratio ${fp% *} ${gp% *})"
echo "pattern: ferret/rg = $(ratio ${fx% *} ${rx% *})"
