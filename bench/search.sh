#!/usr/bin/env bash
# Ferret's unattended search against ripgrep (`rg -uuu -j2 --count-matches`) on real trees, the
# caches warm: plain text, a pattern and ignore case, each as the ratio of the median times
# (ferret / rg), the two run in turns, with the peak resident memory of each program.
#   bench/search.sh BUILD_DIR [TREE...]        (default trees: /usr/include and /usr)
# RUNS sets the runs per command for trees under 1 GB (default 20; larger trees get 3); PLAIN,
# PATTERN and FOLDED set the texts. Runs without a display, as scripts do. Needs rg and python3.
#
# The two programs do not see quite the same files: ferret follows links to folders (each folder
# once) and never enters folders whose names start with "."; rg -uuu enters those and follows no
# links. The hit totals of both are printed so the difference shows.
set -euo pipefail
build=${1:?usage: bench/search.sh BUILD_DIR [TREE...]}
shift
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(/usr/include /usr)
plain=${PLAIN:-QString}
pattern=${PATTERN:-'[A-Z_]+_MAX\b'}
folded=${FOLDED:-qstring}
for tool in rg python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed: apt-get install ripgrep python3" >&2; exit 1; }
done
ferret=$(realpath "$build/ferret")
work=$(mktemp -d /tmp/ferret-search-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY

source "$(dirname "$0")/common.sh"
peak() {  # peak resident memory in MB of the shell command "$1"
    /usr/bin/time -f "%M" -o "$work/m" sh -c "$1" >/dev/null 2>&1 || true
    awk 'END {printf "%.0f", $1 / 1024}' "$work/m"  # the last line: time may say the status first
}
rg_hits() { sh -c "$1" 2>/dev/null | awk -F: '{s += $NF} END {print s + 0}'; }
ferret_hits() {
    sh -c "$1" >/dev/null 2>&1 || true
    grep -o 'found [0-9]* times in [0-9]* files out of [0-9]*' "$work/report.txt" || echo "no report"
}

printf '%-14s %-12s %10s %10s %7s %9s %9s\n' tree search "ferret ms" "rg ms" ratio "ferret MB" "rg MB"
for tree in "${trees[@]}"; do
    runs=$(warm_tree "$tree")
    q=$(printf '%q' "$tree")
    report=$work/report.txt
    for kind in plain pattern folded; do
        case $kind in
            plain) f="-s $(printf '%q' "$plain")"; r="-F $(printf '%q' "$plain")" ;;
            pattern) f="-s $(printf '%q' "$pattern") -rx"; r="$(printf '%q' "$pattern")" ;;
            folded) f="-s $(printf '%q' "$folded") -i"; r="-i -F $(printf '%q' "$folded")" ;;
        esac
        fc="$ferret -p $q -k '*' -b $f -e:search -l $report -x"
        rc="rg -uuu -j2 --count-matches $r $q"
        read -r ft rt < <(medians "$fc" "$rc" "$runs")
        printf '%-14s %-12s %10s %10s %7s %9s %9s\n' "$tree" "$kind" "$ft" "$rt" \
            "$(awk -v a="$ft" -v b="$rt" 'BEGIN {printf "%.2f", a / b}')" "$(peak "$fc")" \
            "$(peak "$rc")"
        echo "               hits: ferret $(ferret_hits "$fc"); rg $(rg_hits "$rc")"
    done
done
