#!/usr/bin/env bash
# Runs a command with the system read-only except /tmp (where the tests make their folders), the
# build folder given first (ctest's own records) and the kernel's own file systems, so a test that
# writes anywhere else fails instead of changing the machine:
#   scripts/read-only-system.sh BUILD_FOLDER COMMAND [ARGUMENTS...]
# It takes a mount namespace of its own; the rest of the machine does not see the change.
set -euo pipefail
if [[ "${FERRET_READ_ONLY_SYSTEM:-}" == 1 ]]; then
    build=$1
    shift
    mount --make-rprivate /
    mount --bind /tmp /tmp
    mount --bind "$build" "$build"
    mount -o remount,bind,ro /
    # The check that it holds: the command does not run on a writable system.
    if touch /.ferret-read-only-check 2>/dev/null; then
        rm -f /.ferret-read-only-check
        echo "read-only-system: / is still writable" >&2
        exit 1
    fi
    exec "$@"
fi
build=$(realpath "$1")
shift
# As root a mount namespace is enough; another user maps itself into a user namespace, keeping
# its own user ID so that the tests see who they really are.
if [[ $(id -u) == 0 ]]; then
    namespace=(unshare --mount)
else
    namespace=(unshare --mount --user --map-current-user)
fi
if ! "${namespace[@]}" true 2>/dev/null; then
    echo "read-only-system: cannot make a mount namespace (${namespace[*]}); the tests need one" \
         "so that they cannot change the machine" >&2
    exit 1
fi
FERRET_READ_ONLY_SYSTEM=1 exec "${namespace[@]}" "$0" "$build" "$@"
