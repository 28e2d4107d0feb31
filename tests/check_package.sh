#!/bin/sh
# Builds the Debian package from the build tree, checks its control fields and
# contents, unpacks it into a temporary root and runs the program from there.
# With DEBIAN_CHECKS on (a hardened g++ build) it also checks what Debian
# checks: lintian (every tag not overridden fails, info and pedantic ones
# too), hardening-check on the packaged program, and no build path in the
# unstripped one.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR DEBIAN_CHECKS(ON|OFF) COMPILER
set -eu
build=$(realpath "$1")
source=$(realpath "$2")
debian_checks=$3
compiler=$4
tools="dpkg-shlibdeps:dpkg-dev file:file"
[ "$debian_checks" = ON ] && tools="$tools lintian:lintian hardening-check:devscripts"
for tool in $tools; do
    command -v "${tool%%:*}" >/dev/null || "$source/scripts/need-packages" "${tool#*:}"
done
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

# What `make install` puts under a prefix, laid out as Debian wants a game:
# programs in /usr/games, manual pages gzipped; then the copyright and the
# changelog.
expected=$({
    env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source" installed |
        sed 's|^bin/|-rwxr-xr-x ./usr/games/|; s|^share/man/.*|&.gz|; s|^[^-]|-rw-r--r-- ./usr/&|'
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

dpkg-deb -x "$deb" "$work/root"
doc=$work/root/usr/share/doc/glyphfall
[ "$("$work/root/usr/games/glyphfall" -V)" = "$("$build/glyphfall" -V)" ] || fail "the unpacked program answers -V differently"
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
changelog_version=$(dpkg-parsechangelog -l "$source/CHANGELOG" -S Version)
[ "$changelog_version" = "$version" ] || fail "the newest changelog entry is $changelog_version, the program $version"

if [ "$debian_checks" = ON ]; then
    # Every tag lintian shows is a finding: the ones kept are overridden, with
    # their reason, in the package.
    [ "$(id -u)" -eq 0 ] && as_root=--allow-root || as_root=
    report=$(lintian $as_root --display-info --pedantic --display-experimental "$deb" 2>&1) ||
        fail "lintian exited $?"
    [ -z "$report" ] || fail "lintian: $report"

    program=$work/root/usr/games/glyphfall
    report=$(hardening-check "$program" 2>&1) || true
    echo "$report"
    # Control-flow protection shows only when the C library's start files,
    # linked into every program, carry it too; Debian 12's do not. Then the
    # program's own code must carry it, on x86 (where hardening-check looks).
    objects="$build/CMakeFiles/glyphfall.dir/src/main.cpp.o $build/libglyphfall_core.a"
    if printf '%s\n' "$report" | grep -q 'Control flow integrity: no' &&
        ! readelf -n "$("$compiler" -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
        report=$(printf '%s\n' "$report" | grep -v 'Control flow integrity')
        for object in $objects; do
            readelf -h "$object" | grep -q 'Machine: *\(Advanced Micro Devices X86-64\|Intel 80386\)' || continue
            readelf -n "$object" | grep -q 'x86 feature: IBT, SHSTK' || fail "no control-flow protection in $object"
        done
    fi
    ! printf '%s\n' "$report" | grep ': no' >&2 || fail "hardening-check finds protections missing"

    # A string that starts with either folder; one merely holding it may be
    # a relative name, such as ./src/main.cpp where the sources are in /src.
    paths=$(strings -a "$build/glyphfall" | grep -F -e "$source" -e "$build" |
        awk -v a="$source" -v b="$build" 'index($0, a "/") == 1 || $0 == a || index($0, b "/") == 1 || $0 == b')
    [ -z "$paths" ] || fail "the build path is in $build/glyphfall: $paths"
fi

[ "$failures" -eq 0 ]
