#!/usr/bin/env bash
# Trees of legacy files against UTF-8 copies of them: the time of each search on the two (the
# legacy one is decoded as it is read) and their ratio (legacy / UTF-8), and whether both found
# the same hits. The trees are made from real texts with iconv, the UTF-8 copy iconv's of the
# legacy files back:
#   catalogues: every translation catalogue on this machine (/usr/share/locale/LANG/LC_MESSAGES/
#     *.mo) of 13 languages, each in an encoding its users' files are in (windows-1252,
#     ISO-8859-1, -15, -2, -7, windows-1251, KOI8-U, Shift_JIS, EUC-JP, GB18030, Big5, EUC-KR):
#     small files dense with letters beyond ASCII, the worst case, as each file's encoding is
#     guessed from many of them;
#   copyrights: the copyright files of the installed packages (/usr/share/doc/*/copyright) in
#     windows-1252, as an old site's pages are: mostly ASCII, a name with an accent here and
#     there.
# The searches: ASCII texts (a word, a rare one, a pattern, one ignoring case, hit lines), found
# among a legacy file's bytes as they are where that is exact, and texts beyond ASCII ("é",
# "файл", and "ФАЙЛ" ignoring case), which need each file's encoding.
#   bench/encodings.sh BUILD_DIR
# RUNS sets the runs per search (default 20). Needs python3 and iconv.
set -euo pipefail
build=${1:?usage: bench/encodings.sh BUILD_DIR}
ferret=$(realpath "$build/ferret")
command -v python3 >/dev/null || { echo "python3 is needed: apt-get install python3" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-encodings-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "$0")/common.sh"

python3 - "$work" <<'PY'
import os, struct, subprocess, sys
work = sys.argv[1]
cases = [("fr", "WINDOWS-1252"), ("de", "ISO-8859-1"), ("es", "ISO-8859-15"), ("pl", "ISO-8859-2"),
         ("cs", "ISO-8859-2"), ("el", "ISO-8859-7"), ("ru", "WINDOWS-1251"), ("uk", "KOI8-U"),
         ("ja", "SHIFT_JIS"), ("ja", "EUC-JP"), ("zh_CN", "GB18030"), ("zh_TW", "BIG5"),
         ("ko", "EUC-KR")]

def messages(path):
    data = open(path, "rb").read()
    if len(data) < 28 or struct.unpack_from("<I", data, 0)[0] != 0x950412DE:
        return []
    count, _, table = struct.unpack_from("<III", data, 8)
    texts = []
    for i in range(1, count):
        length, offset = struct.unpack_from("<II", data, table + 8 * i)
        texts.append(data[offset:offset + length].replace(b"\0", b"\n"))
    return texts

files = 0
for language, encoding in cases:
    folder = f"/usr/share/locale/{language}/LC_MESSAGES"
    if not os.path.isdir(folder):
        continue
    for name in sorted(os.listdir(folder)):
        text = b"\n".join(messages(os.path.join(folder, name)))
        if len(text) < 2000:
            continue
        legacy = subprocess.run(["iconv", "-c", "-f", "UTF-8", "-t", encoding], input=text,
                                capture_output=True).stdout
        utf8 = subprocess.run(["iconv", "-f", encoding, "-t", "UTF-8"], input=legacy,
                              capture_output=True).stdout
        stem = f"{language}.{encoding}/{name[:-3]}.txt"
        for tree, content in (("legacy", legacy), ("utf8", utf8)):
            os.makedirs(os.path.dirname(f"{work}/catalogues/{tree}/{stem}"), exist_ok=True)
            open(f"{work}/catalogues/{tree}/{stem}", "wb").write(content)
        files += 1
print(f"catalogues: {files} files in each tree")

files = 0
legacy_files = 0
for package in sorted(os.listdir("/usr/share/doc")):
    path = f"/usr/share/doc/{package}/copyright"
    if not os.path.isfile(path):
        continue
    text = open(path, "rb").read()
    legacy = subprocess.run(["iconv", "-c", "-f", "UTF-8", "-t", "WINDOWS-1252"], input=text,
                            capture_output=True).stdout
    utf8 = subprocess.run(["iconv", "-f", "WINDOWS-1252", "-t", "UTF-8"], input=legacy,
                          capture_output=True).stdout
    for tree, content in (("legacy", legacy), ("utf8", utf8)):
        os.makedirs(f"{work}/copyrights/{tree}/{package}", exist_ok=True)
        open(f"{work}/copyrights/{tree}/{package}/copyright", "wb").write(content)
    files += 1
    legacy_files += legacy != utf8
print(f"copyrights: {files} files in each tree, {legacy_files} of them not ASCII")
PY
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-11s %-22s %10s %10s %6s %s\n' tree search "legacy ms" "UTF-8 ms" ratio hits
for tree in catalogues copyrights; do
    runs=$(warm_tree "$work/$tree/legacy")
    warm_tree "$work/$tree/utf8" >/dev/null
    for kind in word rare pattern folded hits accent cyrillic folded-cyrillic; do
        case $kind in
            word) args=(-s "file" -l) ;;
            accent) args=(-s "é" -l) ;;
            cyrillic) args=(-s "файл" -l) ;;
            folded-cyrillic) args=(-s "ФАЙЛ" -i -l) ;;
            rare) args=(-s "%s" -l) ;;
            pattern) args=(-s '[a-z]+ing\b' -rx -l) ;;
            folded) args=(-s "ERROR" -i -l) ;;
            hits) args=(-s "file" -hits) ;;
        esac
        q=$(printf '%q ' "${args[@]}")
        read -r lt ut < <(medians \
            "$ferret -p $work/$tree/legacy -k '*' -b $q $work/legacy.out -e:search -x" \
            "$ferret -p $work/$tree/utf8 -k '*' -b $q $work/utf8.out -e:search -x" "$runs")
        # The same hits: the outputs but for the tree's name and the time. Hit lines differ
        # where a file's encoding was guessed wrong.
        same=$(cmp -s <(grep -a -v '^Report generated' "$work/legacy.out" |
            sed "s#$work/$tree/legacy##g") <(grep -a -v '^Report generated' "$work/utf8.out" |
            sed "s#$work/$tree/utf8##g") && echo same || echo DIFFERENT)
        printf '%-11s %-22s %10s %10s %6s %s\n' "$tree" "$kind (${args[1]})" "$lt" "$ut" \
            "$(ratio "$lt" "$ut")" "$same"
    done
done
