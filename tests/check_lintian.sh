#!/bin/sh
# lintian on a Debian upload, at every level (pedantic, info, experimental),
# with no override in the package: it must find exactly the one tag that only
# something not yet in existence can silence, initial-upload-closes-no-bugs:
# the first changelog entry closes no bug asking for the package (there is
# none yet). It also shows that lintian read the upload. The orig tarball
# must come with its signature, or lintian tags it. The report is printed whole.
# Usage: check_lintian.sh CHANGES_OR_DSC...
set -eu
[ "$(id -u)" -ne 0 ] || set -- --allow-root "$@"
status=0
report=$(lintian --pedantic -I -E "$@" 2>&1) || status=$?
printf '%s\n' "$report"
[ "$status" -eq 0 ] || { echo "FAIL: lintian exited $status" >&2; exit 1; }
tags=$(printf '%s\n' "$report" | sed -n 's/^[A-Z]: [^:]*: \([^ ]*\).*/\1/p' | LC_ALL=C sort | tr '\n' ' ')
expected="initial-upload-closes-no-bugs "
[ "$tags" = "$expected" ] || { echo "FAIL: lintian's tags: [$tags], expected [$expected]" >&2; exit 1; }
