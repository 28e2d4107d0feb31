#!/bin/sh
# Installs the build into a temporary root the way `make install` does, checks
# the files that land there, then removes them with `make uninstall` and the
# same PREFIX and DESTDIR: nothing may be left behind.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=/opt/glyphfall-test

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A make run from `make test` would pass its own flags down; these stand alone.
make_alone() { env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source" "$@"; }

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null
files=$(cd "$root" && find . -type f | LC_ALL=C sort)
expected=$(make_alone installed | sed "s|^|.$prefix/|" | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "installed:
$files
expected (make installed):
$expected"

[ -x "$root$prefix/bin/glyphfall" ] || fail "the program is not executable"
"$root$prefix/bin/glyphfall" -V | grep -q '^glyphfall [0-9]' || fail "the installed program does not answer -V"
cmp -s "$source/man/glyphfall.6" "$root$prefix/share/man/man6/glyphfall.6" || fail "the manual page differs"
cmp -s "$source/completion/glyphfall" "$root$prefix/share/bash-completion/completions/glyphfall" ||
    fail "the completion differs"
cmp -s "$source/completion/_glyphfall" "$root$prefix/share/zsh/vendor-completions/_glyphfall" ||
    fail "the zsh completion differs"
cmp -s "$source/completion/glyphfall.fish" "$root$prefix/share/fish/vendor_completions.d/glyphfall.fish" ||
    fail "the fish completion differs"

make_alone uninstall PREFIX="$prefix" DESTDIR="$root" >/dev/null
left=$(cd "$root" && find . -type f)
[ -z "$left" ] || fail "left after uninstall: $left"

[ "$failures" -eq 0 ]
