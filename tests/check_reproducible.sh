#!/bin/sh
# The source package of the last commit built twice by reprotest, the second
# time with what Debian's reproducibility tests vary and these machines allow:
# the time (a year ahead), the build path, the umask, the locale, the time
# zone, the environment and the home folder. File ordering (disorderfs), user
# and group, and host name need FUSE, a second user and namespaces that a
# chroot lacks. The binary packages must be the same bytes. Without the tests
# (nocheck): they do not touch the packages. Skipped (77) outside a git
# checkout.
# Usage: check_reproducible.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
command -v reprotest >/dev/null || "$source/scripts/need-packages" reprotest
command -v faketime >/dev/null || "$source/scripts/need-packages" faketime
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! { env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source" dist BUILD="$work" &&
    "$source/scripts/debian-package" "$work"/dist/glyphfall-*.tar.gz "$work/deb"; } >"$work/log" 2>&1; then
    cat "$work/log" >&2
    exit 1
fi
cd "$work/deb"
status=0
DEB_BUILD_OPTIONS=nocheck reprotest --verbosity 1 --no-diffoscope \
    --variations=-all,+time,+build_path,+umask,+locales,+timezone,+environment,+home \
    --vary=time.faketimes=+365days+5hours glyphfall_*.dsc >"$work/log" 2>&1 || status=$?
grep 'variation: ' "$work/log" | sed 's/^INFO:reprotest[.a-z]*://'
if [ "$status" -ne 0 ] || ! grep -qx 'Reproduction successful' "$work/log"; then
    tail -n 60 "$work/log" >&2
    echo "FAIL: reprotest exited $status" >&2
    exit 1
fi
sed -n '/^Reproduction successful/,$p' "$work/log"
