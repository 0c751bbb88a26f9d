#!/usr/bin/env bash
# A code tree as developers keep it, searched the way they mean: a git repository holding a copy
# of /usr/include, real package files under web/node_modules (those of the node installed here),
# a few binary files and a .gitignore that leaves out most of the packages, some headers and
# every hidden file. Ferret with -gitignore -nobinary against ripgrep in its default mode (which
# honours .gitignore, skips hidden and binary files), both writing hit lines; the script first
# checks that both search the same files. Then the walk alone (a run that only lists) with the
# ignore files read and without, on the same tree with a .gitignore whose 60 rules leave nothing
# out, so both walks list the same files and only the reading and matching of rules differs.
#   bench/ignore.sh BUILD_DIR
# RUNS sets the runs per command (default 20); WORD and RARE the texts searched.
set -euo pipefail
build=${1:?usage: bench/ignore.sh BUILD_DIR}
word=${WORD:-return}
rare=${RARE:-PATH_MAX}
for tool in rg git python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed: apt-get install ripgrep git python3" >&2; exit 1; }
done
ferret=$(realpath "$build/ferret")
work=$(mktemp -d /tmp/ferret-ignore-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "$0")/common.sh"
peak() {  # peak resident memory in MB of the shell command "$1"
    /usr/bin/time -f "%M" -o "$work/m" sh -c "$1" >/dev/null 2>&1 || true
    awk 'END {printf "%.0f", $1 / 1024}' "$work/m"
}

repo=$work/repo
git init -q "$repo"
# Links and dot folders left out of the copy: git lists a link as a file where both walks follow
# it.
copy() {
    mkdir -p "$(dirname "$2")"
    cp -a "$1" "$2"
    find "$2" -type l -delete
    find "$2" -mindepth 1 -name '.?*' -type d -prune -exec rm -rf {} +
}
copy /usr/include "$repo/include"
for packages in /usr/lib/node_modules/npm/node_modules /usr/share/nodejs; do
    if [ -d "$packages" ]; then copy "$packages" "$repo/web/node_modules"; break; fi
done
mkdir -p "$repo/bin"
for tool in ls cat grep sed; do cp "$(command -v "$tool")" "$repo/bin/"; done
printf '.*\n/web/node_modules/*\n!/web/node_modules/semver/\ninclude/linux/*\n!include/linux/fs.h\n*.modulemap\n' \
    > "$repo/.gitignore"
printf '/xen/\n/sound/\n' > "$repo/include/.gitignore"
runs=$(warm_tree "$repo")

echo "tree: $(find "$repo" -type f | wc -l) files, $(git -C "$repo" ls-files --others --exclude-standard | wc -l) not ignored"
printf '%-10s %10s %10s %7s %9s %9s %9s\n' text "ferret ms" "rg ms" ratio "ferret MB" "rg MB" files
for text in "$word" "$rare"; do
    t=$(printf '%q' "$text")
    # Both write their lines to standard output into a file (-hits FILE would also sync it).
    fc="$ferret -p $repo -k '*' -b -gitignore -nobinary -s $t -e:search -hits - -x > $work/ferret.txt"
    rc="rg -j2 -n --column -F $t $repo > $work/rg.txt"
    sh -c "$fc" >/dev/null 2>&1
    sh -c "$rc" || true
    cut -d: -f1 "$work/ferret.txt" | sort -u > "$work/ferret.files"
    cut -d: -f1 "$work/rg.txt" | sort -u > "$work/rg.files"
    if ! cmp -s "$work/ferret.files" "$work/rg.files"; then
        echo "the files with hits differ for '$text':" >&2
        diff "$work/ferret.files" "$work/rg.files" | head -20 >&2
        exit 1
    fi
    read -r ft rt < <(medians "$fc" "$rc" "$runs")
    printf '%-10s %10s %10s %7s %9s %9s %9s\n' "$text" "$ft" "$rt" \
        "$(awk -v a="$ft" -v b="$rt" 'BEGIN {printf "%.2f", a / b}')" "$(peak "$fc")" \
        "$(peak "$rc")" "$(wc -l < "$work/ferret.files")"
done

# The walk with rules that leave nothing out, against the walk without them.
python3 - "$repo/.gitignore" <<'PY'
import sys
rules = []
for i in range(20):
    rules += [f"*.none{i}", f"/no/such/{i}/", f"**/nothing{i}/**"]
open(sys.argv[1], "w").write("\n".join(rules) + "\n")
PY
rm "$repo/include/.gitignore"
lc="$ferret -p $repo -k '*' -b -e:search -l $work/plain.log -x"
ic="$ferret -p $repo -k '*' -b -gitignore -e:search -l $work/rules.log -x"
sh -c "$lc" && sh -c "$ic"
if [ "$(grep -c '^\.\.\./' "$work/plain.log")" != "$(grep -c '^\.\.\./' "$work/rules.log")" ]; then
    echo "the walks listed different files" >&2
    exit 1
fi
read -r wt it < <(medians "$lc" "$ic" "$runs")
printf 'walk of %s files: %s ms without ignore files, %s ms with them (%s)\n' \
    "$(grep -c '^\.\.\./' "$work/plain.log")" "$wt" "$it" \
    "$(awk -v a="$it" -v b="$wt" 'BEGIN {printf "%.2f", a / b}')"
