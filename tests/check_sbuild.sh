#!/bin/sh
# `make sbuild` in a folder of its own: the source package of the last commit
# built by sbuild in a clean Debian 12 chroot, its tarball signed by a
# throwaway key (as check_package.sh), then lintian (check_lintian.sh)
# on the source and what sbuild made, and autopkgtest, each of whose tests
# (debian/tests/control) must pass. Skipped (77) outside a git checkout, and
# where the kernel refuses user namespaces (in a chroot).
# Usage: check_sbuild.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
. "$(dirname "$0")/signed_make.sh"
signed_make sbuild

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
out=$work/sbuild
sh "$(dirname "$0")/check_lintian.sh" "$out/glyphfall_${version}_$(dpkg --print-architecture).changes" \
    "$out/glyphfall_$version.dsc" || fail "lintian"
for test in $(sed -n 's/^Tests: *//p' "$source/debian/tests/control" | tr ',' ' '); do
    grep -Eq "^$test +PASS\$" "$out/autopkgtest.summary" || fail "autopkgtest: $test did not pass"
done

[ "$failures" -eq 0 ]
