#!/bin/sh
# Two `make package` runs, each in its own clone of the last commit, in
# folders of different names and depths, one after the other (so at different
# times, from files checked out at different times), with nothing set by
# hand: the two .deb files must be the same bytes. Uncommitted changes are not
# in the clones. Skipped (77) outside a git checkout.
# Usage: check_reproducible.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
commit=$(git -C "$source" rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# package FOLDER: the .deb of a fresh clone in FOLDER.
package() {
    git clone -q --no-checkout "$source" "$1"
    git -C "$1" checkout -q "$commit"
    if ! env -u SOURCE_DATE_EPOCH -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$1" package JOBS=2 >"$work/log" 2>&1; then
        cat "$work/log" >&2
        exit 1
    fi
    echo "$1"/build/release/glyphfall_*.deb
}

first=$(package "$work/one")
sleep 1  # a second apart at least, whatever the speed of the build
second=$(package "$work/two/a/longer/path")
sha256sum "$first" "$second" | sed "s|$work/||"
cmp "$first" "$second" >&2 || { echo "FAIL: the two packages differ" >&2; exit 1; }
