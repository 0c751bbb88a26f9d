#!/usr/bin/env bash
# Opens a 50 MB text file (a hit on every tenth line) in the previewer on the offscreen
# platform. Usage: bench/preview.sh BUILD_DIR [MEGABYTES]
set -euo pipefail
build=${1:?usage: bench/preview.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-50}
[ -x "$build/preview_bench" ] || { echo "no $build/preview_bench: build the benchmarks first" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-preview-XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.log" "$megabytes" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2]) << 20
with open(path, "w") as f:
    n = 0
    while f.tell() < size:
        f.write(f"{n:08d} GET /index.html 200 {'needle' if n % 10 == 0 else 'hay'} 0.0042s\n")
        n += 1
PY
export QT_QPA_PLATFORM=offscreen HOME="$work" XDG_CONFIG_HOME="$work" XDG_DATA_HOME="$work"
echo "$megabytes MB: $("$build/preview_bench" "$work/big.log" needle 2>/dev/null)"
/usr/bin/time -f "peak memory %M KB" "$build/preview_bench" "$work/big.log" needle 2>&1 >/dev/null | tail -1
