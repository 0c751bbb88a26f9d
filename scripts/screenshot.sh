#!/usr/bin/env bash
# Makes docs/window.png: the real program under Xvfb, after a search of /usr/include.
#   scripts/screenshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
scripts/setup-deps.sh xvfb x11-apps imagemagick
[ -x "$build/ferret" ] || { echo "build Ferret first (./run.sh --version)" >&2; exit 1; }
work=$(mktemp -d /tmp/ferret-shot-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Mallo"
# The summary with its file list makes a readable picture.
printf '[General]\nReportType=3\n' >"$XDG_CONFIG_HOME/Mallo/Ferret.conf"
display=:57
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
DISPLAY=$display "$build/ferret" -p /usr/include -k "*.h" -b -s "PATH_MAX" -e:search &
ferret=$!
sleep 6
DISPLAY=$display xwd -root -silent | convert xwd:- -crop 1100x720+0+0 +repage docs/window.png
kill "$ferret" 2>/dev/null || true
echo "docs/window.png written"
