#!/usr/bin/env bash
# Searches inside archives: ferret -z against ugrep -z on a tree of real archives made from
# /usr/share/doc, one archive a package, the formats taken in turn (zip, tar.gz, tar.xz, tar.bz2,
# tar.zst). The gzipped files of /usr/share/doc (changelogs) are unpacked first: ugrep 3.11 hangs
# when asked to open a second level (--zmax=2), so both tools read one. Prints each search's
# median time (RUNS runs, default 10), the ratio ferret / ugrep, and whether both counted the
# same hits in every entry.
#   bench/archives.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/archives.sh BUILD_DIR}
ferret=$(realpath "$build/ferret")
runs=${RUNS:-10}
for tool in ugrep bsdtar python3; do
    command -v "$tool" >/dev/null || {
        echo "$tool is needed: apt-get install ugrep libarchive-tools python3" >&2
        exit 1
    }
done
work=$(mktemp -d /tmp/ferret-archives-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "$0")/common.sh"

tree=$work/tree
mkdir -p "$tree"
cp -r /usr/share/doc "$work/doc" 2>/dev/null || true
find "$work/doc" -type l -delete
find "$work/doc" -name '*.gz' -exec gunzip -fq {} + 2>/dev/null || true
formats=(zip tar.gz tar.xz tar.bz2 tar.zst)
count=0
for folder in "$work"/doc/*/; do
    package=$(basename "$folder")
    format=${formats[$((count % ${#formats[@]}))]}
    case $format in
        zip) bsdtar --format zip -cf "$tree/$package.zip" -C "$work/doc" "$package" ;;
        tar.gz) bsdtar -czf "$tree/$package.tar.gz" -C "$work/doc" "$package" ;;
        tar.xz) bsdtar -cJf "$tree/$package.tar.xz" -C "$work/doc" "$package" ;;
        tar.bz2) bsdtar -cjf "$tree/$package.tar.bz2" -C "$work/doc" "$package" ;;
        tar.zst) bsdtar --zstd -cf "$tree/$package.tar.zst" -C "$work/doc" "$package" ;;
    esac 2>/dev/null || true
    count=$((count + 1))
done
echo "tree: $count archives, $(du -sh "$tree" | cut -f1), from /usr/share/doc"

# Each entry's count, as "ARCHIVE//PATH COUNT" lines sorted, from either tool's output. ugrep
# writes an entry as ARCHIVE{PATH}, and one of an archive inside it (a tar in a zip, which it
# opens whatever --zmax says) as ARCHIVE{INNER.tar:PATH}.
ferret_counts() {
    "$ferret" -p "$tree" -k "*" -b -s "$1" -z -e:search -l "$work/report.txt" -x >/dev/null
    sed -n 's|^ \[\([0-9]*\)\]\t\.\.\./\(.*\)$|\2 \1|p' "$work/report.txt" | sort
}
ugrep_counts() {
    (cd "$tree" && ugrep -z -c -o -F -r -- "$1" . 2>/dev/null) |
        sed -n 's|^\./||; s|{\(.*\)}:\([0-9]*\)$|//\1 \2|p; ' | awk '$NF != 0' |
        sed -E 's#\.(tar|zip|tgz|7z|cpio):#.\1//#g' | sort
}

find "$tree" -type f -exec cat {} + >/dev/null
printf '%-28s %10s %10s %7s %s\n' search "ferret ms" "ugrep ms" ratio counts
for word in Debian copyright "GNU General Public License" xyzzy; do
    read -r ferret_ms ugrep_ms < <(medians \
        "'$ferret' -p '$tree' -k '*' -b -s '$word' -z -e:search -l '$work/timed.txt' -x" \
        "cd '$tree' && ugrep -z -c -o -F -r -- '$word' . >/dev/null 2>&1" "$runs")
    if diff <(ferret_counts "$word") <(ugrep_counts "$word") >"$work/diff.txt"; then
        same=same
    else
        same="DIFFERENT ($(grep -c '^[<>]' "$work/diff.txt") lines)"
        cp "$work/diff.txt" "/tmp/ferret-archives-$(echo "$word" | tr ' ' _).diff"
    fi
    printf '%-28s %10.1f %10.1f %7.2f %s\n' "$word" "$ferret_ms" "$ugrep_ms" \
        "$(python3 -c "print($ferret_ms / $ugrep_ms)")" "$same"
done
