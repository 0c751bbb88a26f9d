#!/usr/bin/env bash
# What a replace run costs, on fresh copies of /usr/include (*.h, links resolved) on the same disk
# as the restore folder: ferret with restore points (the default), ferret without them
# ("RestoreQuantity" 0) and `rg -l -F TEXT DIR | xargs sed -i` (which flushes nothing to disk),
# for a small replace (__THROW, about 150 files) and a large one (endif, about 7,300 files).
# Medians of RUNS runs (default 3), the three taking turns. Usage: bench/replace.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/replace.sh BUILD_DIR}
runs=${RUNS:-3}
command -v rg >/dev/null || { echo "ripgrep (rg) is needed: apt-get install ripgrep" >&2; exit 1; }
ferret=$(realpath "$build/ferret")
work=$(mktemp -d /tmp/ferret-replace-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME/Mallo"
cp -rL /usr/include "$work/master" 2>/dev/null || true

source "$(dirname "$0")/common.sh"
keep() { printf '[General]\nRestoreQuantity=%s\n' "$1" >"$XDG_CONFIG_HOME/Mallo/Ferret.conf"; }
seconds() {  # runs "$@" and prints the seconds it took
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
run_ferret() {
    "$ferret" -p "$work/tree" -k "*.h" -b -s "$1" -r "$2" -e:replace -l "$work/report.txt" -x
}
run_pipeline() { rg -l -F "$1" -g '*.h' "$work/tree" | xargs -r sed -i "s/$1/$2/g"; }
replaced() { rg --count-matches -F "$1" -g '*.h' "$work/tree" | awk -F: '{ s += $NF } END { print s + 0 }'; }

printf '%-8s %6s %10s %10s %10s %12s %12s\n' replace files "kept s" "none s" "rg|sed s" \
    "kept/rg|sed" "kept/none"
for case in small large; do
    case $case in
        small) text=__THROW new=__THROW_X ;;
        large) text=endif new=endif_done ;;
    esac
    files=$(rg -l -F "$text" -g '*.h' "$work/master" | wc -l)
    for f in kept none pipe; do : >"$work/$f"; done
    for _ in $(seq "$runs"); do
        fresh; keep 10; seconds run_ferret "$text" "$new" >>"$work/kept"; echo >>"$work/kept"
        kept_done=$(replaced "$new")
        fresh; keep 0; seconds run_ferret "$text" "$new" >>"$work/none"; echo >>"$work/none"
        fresh; seconds run_pipeline "$text" "$new" >>"$work/pipe"; echo >>"$work/pipe"
        pipe_done=$(replaced "$new")
    done
    kept=$(median <"$work/kept")
    none=$(median <"$work/none")
    pipe=$(median <"$work/pipe")
    printf '%-8s %6s %10s %10s %10s %12s %12s\n' "$case" "$files" "$kept" "$none" "$pipe" \
        "$(ratio "$kept" "$pipe")" "$(ratio "$kept" "$none")"
    echo "         replacements afterwards: ferret $kept_done, rg|sed $pipe_done"
done
