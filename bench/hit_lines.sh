#!/usr/bin/env bash
# Ferret's hit lines (`-hits`) against ripgrep's (`rg -L -j2 -n --column`) on real trees, the
# caches warm, both written to a file: the ratio of the median times (ferret / rg), the two run in
# turns, with the peak resident memory of each and the lines each wrote.
#   bench/hit_lines.sh BUILD_DIR [TREE...]     (default trees: /usr/include and /usr)
# RUNS sets the runs per command for trees under 1 GB (default 20; larger trees get 3); WORD and
# RARE set the texts (a frequent word with over 150,000 hits in /usr/include, and a rare one).
#
# FERRET_ARGS and RG_ARGS add switches to each side: ripgrep stops reading a file at its first
# NUL byte, ferret reads binary files whole to count them, so like for like is
# FERRET_ARGS=-nobinary against rg, or ferret against RG_ARGS=--binary.
#
# Both follow links; ripgrep walks a folder reached by two names twice, ferret once, so rg may
# write more lines.
set -euo pipefail
build=${1:?usage: bench/hit_lines.sh BUILD_DIR [TREE...]}
shift
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(/usr/include /usr)
word=${WORD:-return}
rare=${RARE:-PATH_MAX}
for tool in rg python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed: apt-get install ripgrep python3" >&2; exit 1; }
done
ferret=$(realpath "$build/ferret")
work=$(mktemp -d /tmp/ferret-hits-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY

source "$(dirname "$0")/common.sh"
peak() {  # peak resident memory in MB of the shell command "$1", the median of three runs
    for _ in 1 2 3; do  # the threads' timing moves it by a megabyte or two
        /usr/bin/time -f "%M" -o "$work/m" sh -c "$1" >/dev/null 2>&1 || true
        tail -n 1 "$work/m"  # the last line: time may say the status first
    done | sort -n | awk 'NR == 2 {printf "%.0f", $1 / 1024}'
}

printf '%-14s %-10s %10s %10s %7s %9s %9s %9s %9s\n' tree text "ferret ms" "rg ms" ratio \
    "ferret MB" "rg MB" "ferret ln" "rg ln"
for tree in "${trees[@]}"; do
    runs=$(warm_tree "$tree")
    q=$(printf '%q' "$tree")
    for text in "$word" "$rare"; do
        t=$(printf '%q' "$text")
        fc="$ferret -p $q -k '*' -b -s $t -e:search -hits $work/ferret.txt -x ${FERRET_ARGS:-}"
        rc="rg -L -j2 -n --column ${RG_ARGS:-} -F $t $q > $work/rg.txt"
        read -r ft rt < <(medians "$fc" "$rc" "$runs")
        printf '%-14s %-10s %10s %10s %7s %9s %9s %9s %9s\n' "$tree" "$text" "$ft" "$rt" \
            "$(awk -v a="$ft" -v b="$rt" 'BEGIN {printf "%.2f", a / b}')" "$(peak "$fc")" \
            "$(peak "$rc")" "$(wc -l < "$work/ferret.txt")" "$(wc -l < "$work/rg.txt")"
    done
done
