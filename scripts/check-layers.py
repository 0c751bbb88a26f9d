#!/usr/bin/env python3
"""Fails when an include points the wrong way between the layers, or when a folder's sources and
its library in CMakeLists.txt differ.

The layers, lowest first; each may use those listed for it (and itself):
  util      nothing else
  settings  util
  office    settings, util
  engine    office, settings, util; of settings only the error log, as the
            engine reads no settings: it gets them in its request
  reports   engine, office, settings, util
  preview   engine, office, settings, util
  app       everything
Tests (*_test.cpp) may also use testsupport/. Run from anywhere: scripts/check-layers.py
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BELOW = {
    "util": set(),
    "settings": {"util"},
    "office": {"settings", "util"},
    "engine": {"office", "settings", "util"},
    "reports": {"engine", "office", "settings", "util"},
    "preview": {"engine", "office", "settings", "util"},
    "app": {"preview", "reports", "engine", "office", "settings", "util"},
}
# The settings headers the engine may include: no reading of the store behind them.
ENGINE_SETTINGS = {"settings/error_log.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def include_problems():
    problems = []
    for layer, below in BELOW.items():
        for path in sorted((ROOT / layer).glob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            is_test = path.name.endswith("_test.cpp")
            allowed = below | {layer} | ({"testsupport"} if is_test else set())
            for header in INCLUDE.findall(path.read_text(errors="replace")):
                if "/" not in header:
                    continue  # generated headers such as ferret_version.h
                folder = header.split("/", 1)[0]
                name = f"{layer}/{path.name}"
                if folder not in allowed:
                    problems.append(f"{name} includes {header}: {layer}/ may not use {folder}/")
                elif layer == "engine" and folder == "settings" and header not in ENGINE_SETTINGS:
                    problems.append(f"{name} includes {header}: the engine reads no settings")
    return problems


def library_problems():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    problems = []
    for layer in BELOW:
        match = re.search(rf"add_library\(ferret_{layer} STATIC(.*?)\)", cmake, re.DOTALL)
        if not match:
            problems.append(f"CMakeLists.txt has no library ferret_{layer} for {layer}/")
            continue
        listed = set(match.group(1).split())
        if layer == "util":
            # The readers of archives and PDFs are util/ too, in libraries of their own: linked in,
            # or a module loaded when first needed.
            for readers in re.finditer(
                r"(?:set\(FERRET_READER_SOURCES|add_library\((?:ferret_readers_loader|ferret-readers)"
                r" (?:STATIC|MODULE))(.*?)\)",
                cmake,
                re.DOTALL,
            ):
                listed |= {word for word in readers.group(1).split() if word.startswith("util/")}
        sources = {
            f"{layer}/{path.name}"
            for path in (ROOT / layer).glob("*.cpp")
            if not path.name.endswith("_test.cpp") and path.name != "main.cpp"
        }
        for extra in sorted(listed - sources):
            problems.append(f"ferret_{layer} lists {extra}, which is not a source of {layer}/")
        for missing in sorted(sources - listed):
            problems.append(f"{missing} is not in ferret_{layer}")
    return problems


def main():
    problems = include_problems() + library_problems()
    for problem in problems:
        print(f"check-layers: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
