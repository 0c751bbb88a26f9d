#!/usr/bin/env bash
# Searches 20 office files (10 .doc, 10 .xls, made with LibreOffice here) with one LibreOffice
# for the whole run against one LibreOffice start per file. Usage: bench/office.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/office.sh BUILD_DIR}
[ -x "$build/office_bench" ] || { echo "no $build/office_bench: build the benchmarks first" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-office-XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work" >"$work/requests.json" <<'PY'
import json, sys
work = sys.argv[1]
requests = []
for i in range(10):
    requests.append({"op": "make", "path": f"{work}/letter{i}.doc",
                     "paragraphs": [f"Letter {i}", "the needle and another needle", "end"]})
    requests.append({"op": "make", "path": f"{work}/sheet{i}.xls",
                     "sheets": [["One", [["a needle", "x"], ["y", "needle"]]]]})
print(json.dumps(requests))
PY
/usr/bin/python3 testsupport/office_fixture.py "$build/office" "$(command -v soffice)" \
    <"$work/requests.json" >/dev/null
"$build/office_bench" needle "$work"/*.doc "$work"/*.xls
