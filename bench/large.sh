#!/usr/bin/env bash
# Memory and time on one large text file made of real text (the headers of /usr/include, end to
# end, to SIZE_MB, default 2048) against ripgrep and GNU sed in the same run: a plain and a
# pattern search, the hit lines of a frequent text, a plain and a pattern replace (with a
# restore point, the default) against `sed -i`, the undo of the replace and its patch (-diff);
# then lines of 50, 100 and 200 MB with no hit, and 1,000,000 and 3,000,000 hit lines in one
# file. Wall seconds (medians of RUNS, default 3; replaces once each, REPLACE_RUNS) and peak
# memory from /usr/bin/time. The files go to TMPDIR (default /tmp). Usage: bench/large.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/large.sh BUILD_DIR}
runs=${RUNS:-3}
replace_runs=${REPLACE_RUNS:-1}
size_mb=${SIZE_MB:-2048}
command -v rg >/dev/null || { echo "ripgrep (rg) is needed: apt-get install ripgrep" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 1; }
ferret=$(realpath "$build/ferret")
work=$(mktemp -d "${TMPDIR:-/tmp}/ferret-large-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$work/tree" "$work/lines" "$work/hits"

find /usr/include -name '*.h' -type f -print0 | xargs -0 cat >"$work/one.txt"
while [ "$(stat -c %s "$work/tree/big.txt" 2>/dev/null || echo 0)" -lt $((size_mb << 20)) ]; do
    cat "$work/one.txt" >>"$work/tree/big.txt"
done
rm "$work/one.txt"
cp "$work/tree/big.txt" "$work/master.txt"

# "SECONDS KB" of the command "$@": its wall time and peak memory.
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1 || true
    cat "$work/time"
}
# The median of `runs` measures of "$@" (by time), as "SECONDS KB".
median_of() {
    local n=$1
    shift
    for _ in $(seq "$n"); do measure "$@"; done | sort -n | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'
}
row() {  # CASE "F_S F_KB" "P_S P_KB" PEER
    read -r fs fk <<<"$2"
    read -r ps pk <<<"$3"
    printf '%-28s %8s %9s %8s %9s %7s  %s\n' "$1" "$fs" "$((fk / 1024))" "$ps" "$((pk / 1024))" \
        "$(awk -v a="$fs" -v b="$ps" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" "$4"
}
search=("$ferret" -p "$work/tree" -k "*.txt" -e:search -l "$work/report.txt" -x -s)

cat "$work/tree/big.txt" >/dev/null
echo "file: $(($(stat -c %s "$work/tree/big.txt") >> 20)) MB"
printf '%-28s %8s %9s %8s %9s %7s  %s\n' case "ferret s" "ferret MB" "peer s" "peer MB" ratio peer
row "search PATH_MAX" "$(median_of "$runs" "${search[@]}" PATH_MAX)" \
    "$(median_of "$runs" rg --no-mmap -c -F PATH_MAX "$work/tree/big.txt")" "rg -c -F"
row "search [A-Z]+_MAX\\b" "$(median_of "$runs" "${search[@]}" '[A-Z]+_MAX\b' -rx)" \
    "$(median_of "$runs" rg --no-mmap -c '[A-Z]+_MAX\b' "$work/tree/big.txt")" "rg -c"
row "search MAX\\s*\\n\\s*# (lines)" "$(median_of "$runs" "${search[@]}" 'MAX\s*\n\s*#' -rx)" \
    "$(median_of "$runs" rg --no-mmap -U -c 'MAX\s*\n\s*#' "$work/tree/big.txt")" "rg -U -c"
row "-hits return" \
    "$(median_of "$runs" "$ferret" -p "$work/tree" -k "*.txt" -s return -e:search -hits - -x)" \
    "$(median_of "$runs" rg --no-mmap -n --column -F return "$work/tree/big.txt")" "rg -n --column"

# Replaces: a fresh copy each time, ferret and sed in turns; the results compared.
replace_row() {  # CASE FERRET_ARGS... -- SED_SCRIPT SED_FLAGS
    local name=$1 sed_script sed_flags
    shift
    local args=()
    while [ "$1" != "--" ]; do args+=("$1"); shift; done
    sed_script=$2
    sed_flags=$3
    : >"$work/f"; : >"$work/s"
    for _ in $(seq "$replace_runs"); do
        rm -rf "$XDG_DATA_HOME/ferret/restore"
        cp "$work/master.txt" "$work/tree/big.txt"; sync; cat "$work/tree/big.txt" >/dev/null
        measure "$ferret" -p "$work/tree" -k "*.txt" "${args[@]}" -e:replace -x >>"$work/f"
        cp "$work/tree/big.txt" "$work/ferret.txt"
        cp "$work/master.txt" "$work/tree/big.txt"; sync; cat "$work/tree/big.txt" >/dev/null
        # shellcheck disable=SC2086
        measure sed -i $sed_flags "$sed_script" "$work/tree/big.txt" >>"$work/s"
    done
    row "$name" "$(sort -n "$work/f" | head -1)" "$(sort -n "$work/s" | head -1)" "sed -i"
    cmp -s "$work/ferret.txt" "$work/tree/big.txt" || echo "  the two results differ"
}
replace_row "replace PATH_MAX" -s PATH_MAX -r PATH_LIMIT -- 's/PATH_MAX/PATH_LIMIT/g' ""
# shellcheck disable=SC2016
replace_row "replace ([A-Z]+)_MAX\\b" -s '([A-Z]+)_MAX\b' -r '$1_LIMIT' -rx -- \
    's/([A-Z]+)_MAX\b/\1_LIMIT/g' -E

# The undo of a plain replace.
rm -rf "$XDG_DATA_HOME/ferret/restore"
cp "$work/master.txt" "$work/tree/big.txt"
"$ferret" -p "$work/tree" -k "*.txt" -s PATH_MAX -r PATH_LIMIT -e:replace -x >/dev/null 2>&1
id=$(find "$XDG_DATA_HOME/ferret/restore" -mindepth 1 -maxdepth 1 -printf '%f\n' | head -1)
read -r us uk <<<"$(measure "$ferret" -undo "$id")"
printf '%-28s %8s %9s\n' "undo" "$us" "$((uk / 1024))"
cmp -s "$work/master.txt" "$work/tree/big.txt" || echo "  the undo did not give the original back"

# The patch of the same replace, the file left as it is.
read -r ds dk <<<"$(measure "$ferret" -p "$work/tree" -k "*.txt" -s PATH_MAX -r PATH_LIMIT -e:replace -diff "$work/big.diff" -x)"
printf '%-28s %8s %9s   %s\n' "-diff PATH_MAX" "$ds" "$((dk / 1024))" "$(($(stat -c %s "$work/big.diff") >> 20)) MB of patch"
cmp -s "$work/master.txt" "$work/tree/big.txt" || echo "  -diff changed the file"
rm -f "$work/big.diff"
rm -f "$work/master.txt" "$work/ferret.txt" "$work/tree/big.txt"

# Lines of any length in linear time: one line with no hit.
for mb in 50 100 200; do
    head -c $((mb << 20)) /dev/zero | tr '\0' 'a' >"$work/lines/one.txt"
    read -r ls lk <<<"$(median_of "$runs" "$ferret" -p "$work/lines" -k "*.txt" -s qqq -rx -e:search -l "$work/report.txt" -x)"
    printf '%-28s %8s %9s\n' "one line of $mb MB, -rx qqq" "$ls" "$((lk / 1024))"
done
rm -f "$work/lines/one.txt"

# Many hit lines in one file.
for n in 1000000 3000000; do
    awk -v n="$n" 'BEGIN { for (i = 0; i < n; i++) printf "line %d with a hit in it\n", i }' \
        >"$work/hits/many.txt"
    row "-hits $n lines" \
        "$(median_of "$runs" "$ferret" -p "$work/hits" -k "*.txt" -s hit -e:search -hits - -x)" \
        "$(median_of "$runs" rg --no-mmap -n --column -F hit "$work/hits/many.txt")" "rg -n --column"
done
