#!/bin/sh
# `make image` and `make site` take the release that `make release` leaves:
# in a fresh clone of the last commit, without one, each must stop at once
# with a single line that says to run `make release`, and no stack trace.
# usage: tests/check_no_release.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "skipped: not a git checkout"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset MAKEFLAGS MFLAGS MAKELEVEL

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

git clone --quiet "$source" "$work/clone"
for target in image site; do
    status=0
    (cd "$work/clone" && timeout 60 make "$target") >"$work/out" 2>&1 || status=$?
    lines=$(wc -l <"$work/out")
    if [ "$status" -eq 0 ] || [ "$lines" -ne 1 ] || ! grep -q 'run make release' "$work/out" ||
        grep -q '^ *at ' "$work/out"; then
        cat "$work/out" >&2
        fail "make $target without a release: status $status, $lines lines"
    else
        echo "ok: make $target without a release, status $status: $(cat "$work/out")"
    fi
    [ ! -e "$work/clone/build" ] || fail "make $target built something first: $(ls "$work/clone/build")"
done
[ "$failures" -eq 0 ]
