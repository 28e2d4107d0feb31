#!/bin/sh
# `make help` against make's own list of the Makefile's targets (`make -qp`):
# it names each of them once, with a line of text, and nothing else. Then a
# copy of the Makefile with a new target whose rule has no `##` line above it:
# `make help` must fail and name it.
# usage: tests/check_make_help.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset MAKEFLAGS MFLAGS MAKELEVEL

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The targets in make's database: the files section, less what make marks as
# no target, the special targets that start with a dot, and the lines that
# set a variable for a target.
{ make -C "$source" -qp 2>/dev/null || true; } |
    sed -n '/^# Files/,/^# files hash-table stats/p' |
    awk '/^# Not a target:/ { getline; next } /^[^#.\t ][^ =]*:/ && !/=/ { sub(/:.*/, ""); print }' |
    LC_ALL=C sort >"$work/targets"
[ "$(wc -l <"$work/targets")" -ge 20 ] || fail "make -qp lists only: $(tr '\n' ' ' <"$work/targets")"

make -s -C "$source" help >"$work/help" 2>"$work/errors" || { cat "$work/errors" >&2; fail "make help"; }
[ ! -s "$work/errors" ] || fail "make help complains: $(cat "$work/errors")"
awk 'NF < 2 { print "no text: " $0 }' "$work/help" >"$work/bare"
[ ! -s "$work/bare" ] || fail "$(cat "$work/bare")"
awk '{ print $1 }' "$work/help" | LC_ALL=C sort >"$work/listed"
diff "$work/targets" "$work/listed" >&2 || fail "make help lists other targets than make -qp (< make, > help)"
echo "ok: make help names each of the $(wc -l <"$work/targets") targets once, with its line"

cp "$source/Makefile" "$work/Makefile"
printf '\n# A target that forgot its line.\nundocumented-target:\n\ttrue\n' >>"$work/Makefile"
if (cd "$source" && scripts/make-help "$work/Makefile") >/dev/null 2>"$work/errors"; then
    fail "make help passes a target without its ## line"
fi
grep -q 'undocumented-target' "$work/errors" || fail "make help does not name the new target: $(cat "$work/errors")"
echo "ok: a target without its ## line makes make help fail: $(cat "$work/errors")"
