#!/usr/bin/env bash
# Installs the Debian packages that are missing from the given list (nothing when all are there).
set -euo pipefail
missing=()
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
}
for package in "$@"; do
    # A LibreOffice part counts as there in its variant without a desktop interface too.
    if ! installed "$package" && ! installed "$package-nogui"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
