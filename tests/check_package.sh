#!/bin/sh
# Builds the Debian package from the build tree, checks its control fields,
# unpacks it into a temporary root and runs the program from there.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
command -v dpkg-shlibdeps >/dev/null || "$source/scripts/need-packages" dpkg-dev
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

version=$("$build/glyphfall" -V | sed -n '1s/^glyphfall //p')
if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    exit 1
fi
deb=$work/out/glyphfall_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { fail "no $deb; made: $(ls "$work/out")"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = glyphfall ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = games ] || fail "Section: $(field Section)"
[ "$(field Homepage)" = https://glyphfall.org ] || fail "Homepage: $(field Homepage)"
field Maintainer | grep -q '^[^<]* <[^@>]*@[^>]*>$' || fail "Maintainer: $(field Maintainer)"
field Depends | grep -Eq '(^|, )libc6( |,|$)' || fail "Depends: $(field Depends)"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"
[ -z "$(field Description | awk 'length > 80')" ] || fail "description lines longer than 80 columns"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | LC_ALL=C sort -k3)
expected="-rwxr-xr-x root/root ./usr/bin/glyphfall
-rw-r--r-- root/root ./usr/share/bash-completion/completions/glyphfall
-rw-r--r-- root/root ./usr/share/fish/vendor_completions.d/glyphfall.fish
-rw-r--r-- root/root ./usr/share/man/man6/glyphfall.6.gz
-rw-r--r-- root/root ./usr/share/zsh/vendor-completions/_glyphfall"
[ "$files" = "$expected" ] || fail "the package holds:
$files"

dpkg-deb -x "$deb" "$work/root"
[ "$("$work/root/usr/bin/glyphfall" -V)" = "$("$build/glyphfall" -V)" ] || fail "the unpacked program answers -V differently"
gzip -dc "$work/root/usr/share/man/man6/glyphfall.6.gz" | cmp -s - "$source/man/glyphfall.6" ||
    fail "the packed manual page differs"
cmp -s "$work/root/usr/share/bash-completion/completions/glyphfall" "$source/completion/glyphfall" ||
    fail "the packed completion differs"
cmp -s "$work/root/usr/share/zsh/vendor-completions/_glyphfall" "$source/completion/_glyphfall" ||
    fail "the packed zsh completion differs"
cmp -s "$work/root/usr/share/fish/vendor_completions.d/glyphfall.fish" "$source/completion/glyphfall.fish" ||
    fail "the packed fish completion differs"

[ "$failures" -eq 0 ]
