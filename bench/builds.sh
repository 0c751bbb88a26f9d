#!/usr/bin/env bash
# Two builds of ferret against each other, run in turns on the commands of search.sh,
# hit_lines.sh and replace.sh, the caches warm: the median times of each and their ratio
# (new / old), and whether both wrote the same reports, hit lines and files.
#   bench/builds.sh OLD_BUILD NEW_BUILD [TREE...]   (default trees: /usr/include and /usr)
# RUNS sets the runs per search for trees under 1 GB (default 20; larger trees get 3);
# REPLACE_RUNS the replace runs on fresh copies of /usr/include (default 5); PARTS what to run
# ("search replace"). The copies go to TMPDIR (default /tmp): on a disk, the flushes of each
# rewrite make single replace runs swing by several times; on a tmpfs they cost nothing, which
# leaves the program's own work.
set -euo pipefail
old=$(realpath "${1:?usage: bench/builds.sh OLD_BUILD NEW_BUILD [TREE...]}/ferret")
new=$(realpath "${2:?usage: bench/builds.sh OLD_BUILD NEW_BUILD [TREE...]}/ferret")
shift 2
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(/usr/include /usr)
command -v python3 >/dev/null || { echo "python3 is needed: apt-get install python3" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/ferret-builds-XXXXXX")
parts=${PARTS:-search replace}
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY

source "$(dirname "$0")/common.sh"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# Whether two outputs are the same, but for the time a report was made and its restore point.
plain() { grep -a -v -e '^Report generated: ' -e "^$XDG_DATA_HOME/ferret/restore/" "$1"; }
same() { cmp -s <(plain "$1") <(plain "$2") && echo same || echo DIFFERENT; }

printf '%-14s %-18s %10s %10s %9s %s\n' tree run "old ms" "new ms" new/old output
[[ " $parts " == *" search "* ]] || trees=()
for tree in "${trees[@]}"; do
    runs=$(warm_tree "$tree")
    q=$(printf '%q' "$tree")
    for kind in plain pattern folded hits-word hits-rare; do
        case $kind in
            plain) args="-s QString -l" ;;
            pattern) args="-s '[A-Z_]+_MAX\b' -rx -l" ;;
            folded) args="-s qstring -i -l" ;;
            hits-word) args="-s return -hits" ;;
            hits-rare) args="-s PATH_MAX -hits" ;;
        esac
        read -r ot nt < <(medians "$old -p $q -k '*' -b $args $work/old.txt -e:search -x" \
            "$new -p $q -k '*' -b $args $work/new.txt -e:search -x" "$runs")
        printf '%-14s %-18s %10s %10s %9s %s\n' "$tree" "$kind" "$ot" "$nt" "$(ratio "$nt" "$ot")" \
            "$(same "$work/old.txt" "$work/new.txt")"
    done
done

# Replace runs with restore points, each build on a fresh copy, the order swapped every run.
[[ " $parts " == *" replace "* ]] || exit 0
cp -rL /usr/include "$work/master" 2>/dev/null || true
replace() {  # build, text, new text, output; prints the seconds it took
    local start end
    fresh
    start=$(date +%s%N)
    "$1" -p "$work/tree" -k "*.h" -b -s "$2" -r "$3" -e:replace -l "$4" -x >/dev/null 2>&1 || true
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.1f\n", ns / 1e6 }'
    (cd "$work/tree" && find . -type f -print0 | sort -z | xargs -0 md5sum) >"$4.sums"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for case in small large; do
    case $case in
        small) text=__THROW to=__THROW_X ;;
        large) text=endif to=endif_done ;;
    esac
    : >"$work/old.ms"
    : >"$work/new.ms"
    for run in $(seq "${REPLACE_RUNS:-5}"); do
        if [ $((run % 2)) -eq 1 ]; then
            replace "$old" "$text" "$to" "$work/old.txt" >>"$work/old.ms"
            replace "$new" "$text" "$to" "$work/new.txt" >>"$work/new.ms"
        else
            replace "$new" "$text" "$to" "$work/new.txt" >>"$work/new.ms"
            replace "$old" "$text" "$to" "$work/old.txt" >>"$work/old.ms"
        fi
    done
    ot=$(median <"$work/old.ms")
    nt=$(median <"$work/new.ms")
    printf '%-14s %-18s %10s %10s %9s %s, files %s\n' /usr/include "replace-$case" "$ot" "$nt" \
        "$(ratio "$nt" "$ot")" "$(same "$work/old.txt" "$work/new.txt")" \
        "$(same "$work/old.txt.sums" "$work/new.txt.sums")"
done
