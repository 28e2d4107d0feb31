#!/bin/sh
# `make package` in a folder of its own: the Debian source and binary packages
# of the last commit, built by dpkg-buildpackage. Checks the control fields and
# the files of the binary package, unpacks it and compares what it holds with
# the sources; then what Debian checks: lintian on the upload
# (check_lintian.sh), hardening-check on the packaged program, and no build
# path in the unstripped one. Skipped (77) outside a git checkout.
# Usage: check_package.sh SOURCE_DIR GLYPHFALL
set -eu
source=$(realpath "$1")
program=$(realpath "$2")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
command -v hardening-check >/dev/null || "$source/scripts/need-packages" devscripts
command -v lintian >/dev/null || "$source/scripts/need-packages" lintian
work=$(mktemp -d)
. "$(dirname "$0")/throwaway_key.sh"
trap 'throwaway_key_end; rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A make run from `make test` would pass its own flags down; this stands alone.
make_alone() { env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source" "$@"; }
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
upstream=$("$program" -V | sed -n '1s/^glyphfall //p')
throwaway_key "$work" "$(git -C "$source" log -1 --format=%ct)"
tarball=$work/dist/glyphfall-$upstream.tar.gz
if ! { make_alone dist BUILD="$work" &&
    gpg --batch --quiet --armor --detach-sign -u "$throwaway_fingerprint" -o "$tarball.asc" "$tarball" &&
    GLYPHFALL_UPSTREAM_KEY=$throwaway_key make_alone package BUILD="$work" JOBS=2; } >"$work/log" 2>&1; then
    cat "$work/log" >&2
    exit 1
fi
[ "${version%-*}" = "$upstream" ] || fail "debian/changelog is at $version, the program at $upstream"
changes=$work/deb/glyphfall_${version}_$(dpkg --print-architecture).changes
deb=$work/deb/glyphfall_${version}_$(dpkg --print-architecture).deb
for file in "$changes" "$deb" "$work/deb/glyphfall_$version.dsc" "$work/deb/glyphfall_$upstream.orig.tar.gz" \
    "$work/deb/glyphfall_$upstream.orig.tar.gz.asc"; do
    [ -f "$file" ] || { fail "no $file; made: $(ls "$work/deb")"; exit 1; }
done
cmp -s "$work/deb/glyphfall_$upstream.orig.tar.gz" "$work/dist/glyphfall-$upstream.tar.gz" ||
    fail "the orig tarball is not the source tarball of make dist"
grep -q "^dpkg-source: info: verifying .*orig.tar.gz.asc" "$work/log" && ! grep -q 'cannot verify' "$work/log" ||
    fail "dpkg-source did not verify the orig tarball's signature"
grep -q " glyphfall_$upstream.orig.tar.gz.asc\$" "$work/deb/glyphfall_$version.dsc" || fail "the .dsc lacks the signature"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = glyphfall ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = games ] || fail "Section: $(field Section)"
[ "$(field Homepage)" = "$("$program" -V | sed -n 2p)" ] || fail "Homepage: $(field Homepage), -V says otherwise"
field Maintainer | grep -q '^[^<]* <[^@>]*@[^>]*>$' || fail "Maintainer: $(field Maintainer)"
field Depends | grep -Eq '(^|, )libc6( |,|$)' || fail "Depends: $(field Depends)"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"
[ -z "$(field Description | awk 'length > 80')" ] || fail "description lines longer than 80 columns"

# What `make install` puts under a prefix, laid out as Debian wants a game:
# programs in /usr/games, manual pages gzipped; then the copyright and the
# changelogs, upstream's and Debian's.
expected=$({
    make_alone installed |
        sed 's|^bin/|-rwxr-xr-x ./usr/games/|; s|^share/man/.*|&.gz|; s|^[^-]|-rw-r--r-- ./usr/&|'
    echo "-rw-r--r-- ./usr/share/doc/glyphfall/changelog.Debian.gz"
    echo "-rw-r--r-- ./usr/share/doc/glyphfall/changelog.gz"
    echo "-rw-r--r-- ./usr/share/doc/glyphfall/copyright"
} | sed 's| | root/root |' | LC_ALL=C sort -k3)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | LC_ALL=C sort -k3)
[ "$files" = "$expected" ] || fail "the package holds:
$files
expected:
$expected"
dirs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { print $1, $6 }')
[ -z "$dirs" ] || fail "folders not drwxr-xr-x: $dirs"
# The ar members too, whatever the builder's umask.
members=$(ar tv "$deb" | awk '$1 != "rw-r--r--" || $2 != "0/0"')
[ -z "$members" ] || fail "ar members not 0644 root: $members"

dpkg-deb -x "$deb" "$work/root"
doc=$work/root/usr/share/doc/glyphfall
[ "$("$work/root/usr/games/glyphfall" -V)" = "$("$program" -V)" ] || fail "the unpacked program answers -V differently"
gzip -dc "$work/root/usr/share/man/man6/glyphfall.6.gz" | cmp -s - "$source/man/glyphfall.6" ||
    fail "the packed manual page differs"
cmp -s "$work/root/usr/share/bash-completion/completions/glyphfall" "$source/completion/glyphfall" ||
    fail "the packed completion differs"
cmp -s "$work/root/usr/share/zsh/vendor-completions/_glyphfall" "$source/completion/_glyphfall" ||
    fail "the packed zsh completion differs"
cmp -s "$work/root/usr/share/fish/vendor_completions.d/glyphfall.fish" "$source/completion/glyphfall.fish" ||
    fail "the packed fish completion differs"
cmp -s "$doc/copyright" "$source/debian/copyright" || fail "the packed copyright differs"
gzip -dc "$doc/changelog.gz" | cmp -s - "$source/CHANGELOG" || fail "the packed changelog differs"
gzip -dc "$doc/changelog.Debian.gz" | cmp -s - "$source/debian/changelog" || fail "the packed Debian changelog differs"
changelog_version=$(dpkg-parsechangelog -l "$source/CHANGELOG" -S Version)
[ "$changelog_version" = "$upstream" ] || fail "the newest changelog entry is $changelog_version, the program $upstream"

sh "$(dirname "$0")/check_lintian.sh" "$changes" || fail "lintian"
# Without the throwaway key in its place, the release key's, the signature is refused.
if "$source/scripts/debian-package" "$tarball" "$work/refused" >"$work/refused.log" 2>&1 ||
    ! grep -q 'no signature of it by the key' "$work/refused.log"; then
    cat "$work/refused.log" >&2
    fail "a signature by another key than debian/upstream/signing-key.asc's went into the source package"
fi

packed=$work/root/usr/games/glyphfall
report=$(hardening-check "$packed" 2>&1) || true
echo "$report"
# Control-flow protection shows only when the C library's start files, linked
# into every program, carry it too; Debian 12's do not. Then the program's own
# code must carry it, on x86 (where hardening-check looks).
build=$(echo "$work"/deb/glyphfall-"$upstream"/obj-*)
objects="$build/CMakeFiles/glyphfall.dir/src/main.cpp.o $build/libglyphfall_core.a"
if printf '%s\n' "$report" | grep -q 'Control flow integrity: no' &&
    ! readelf -n "$(c++ -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
    report=$(printf '%s\n' "$report" | grep -v 'Control flow integrity')
    for object in $objects; do
        readelf -h "$object" | grep -q 'Machine: *\(Advanced Micro Devices X86-64\|Intel 80386\)' || continue
        readelf -n "$object" | grep -q 'x86 feature: IBT, SHSTK' || fail "no control-flow protection in $object"
    done
fi
! printf '%s\n' "$report" | grep ': no' >&2 || fail "hardening-check finds protections missing"

# A string that starts with the folder of the sources; one merely holding it
# may be a relative name.
tree=$work/deb/glyphfall-$upstream
paths=$(strings -a "$build/glyphfall" | grep -F "$tree" | awk -v a="$tree" 'index($0, a "/") == 1 || $0 == a')
[ -z "$paths" ] || fail "the build path is in $build/glyphfall: $paths"

[ "$failures" -eq 0 ]
