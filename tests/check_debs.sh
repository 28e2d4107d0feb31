#!/bin/sh
# `make debs` in a folder of its own, its tarball signed by a throwaway key
# (as check_package.sh): the folder holds the source package and one binary
# package for each release architecture, and nothing else. Each package holds
# a program for its own processor, linked dynamically against its own C
# library, and lintian (check_lintian.sh) finds no more in it than in the
# machine's own. Its Depends name only packages of its architecture's Debian
# (no copy of a library made for the cross compilers, no architecture
# qualifier: apt's resolver would take both) and are met by them: apt's
# resolver, in an apt root of that architecture alone with the main index of
# a Debian release that has it, installs the package (simulated). Copies with
# Depends that a cross build can get wrong are refused, each by the check
# meant for it, which shows that both can fail. Skipped (77) outside a git
# checkout, and where the kernel refuses user namespaces (in a chroot).
# KEEP, when given, receives the packages once they pass, so that the home
# page's tests (make test-site) take them rather than build them again.
# Usage: check_debs.sh SOURCE_DIR [KEEP]
set -eu
source=$(realpath "$1")
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
. "$(dirname "$0")/signed_make.sh"
signed_make debs

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
upstream=${version%-*}
debs=$work/debs

# Each architecture: the Debian release whose index its Depends are resolved
# against, and what readelf says of its program: class, byte order,
# interpreter, machine.
architectures='
amd64    bookworm ELF64 little /lib64/ld-linux-x86-64.so.2       Advanced Micro Devices X86-64
i386     bookworm ELF32 little /lib/ld-linux.so.2                Intel 80386
armhf    bookworm ELF32 little /lib/ld-linux-armhf.so.3          ARM
armel    bookworm ELF32 little /lib/ld-linux.so.3                ARM
arm64    bookworm ELF64 little /lib/ld-linux-aarch64.so.1        AArch64
ppc64el  bookworm ELF64 little /lib64/ld64.so.2                  PowerPC64
s390x    bookworm ELF64 big    /lib/ld64.so.1                    IBM S/390
riscv64  trixie   ELF64 little /lib/ld-linux-riscv64-lp64d.so.1  RISC-V
mips64el bookworm ELF64 little /lib64/ld.so.1                    MIPS R3000
'

expected=$({
    echo "builds"
    echo "glyphfall_$upstream.orig.tar.gz"
    echo "glyphfall_$upstream.orig.tar.gz.asc"
    echo "glyphfall_$version.debian.tar.xz"
    echo "glyphfall_$version.dsc"
    printf '%s\n' "$architectures" | awk -v v="$version" 'NF { print "glyphfall_" v "_" $1 ".deb" }'
} | LC_ALL=C sort)
made=$(ls "$debs" | LC_ALL=C sort)
[ "$made" = "$expected" ] || fail "build/debs holds:
$made
expected:
$expected"

# An apt root that knows only ARCH, with the main index of SUITE from this
# machine's mirror, kept between runs so that an update fetches only what
# changed.
apt_root() {
    root=${XDG_CACHE_HOME:-$HOME/.cache}/glyphfall/apt/$1-$2
    mkdir -p "$root/etc/apt/apt.conf.d" "$root/etc/apt/preferences.d" "$root/var/lib/dpkg" \
        "$root/var/lib/apt/lists/partial" "$root/var/cache/apt/archives/partial"
    : >"$root/var/lib/dpkg/status"
    host=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mirror=$(apt-cache policy | awk -v suite="$host" '
        $1 ~ /^[0-9]+$/ && $2 ~ /:\/\// { uri = $2 }
        $1 == "release" && $2 ~ "o=Debian," && $2 ~ ",n=" suite "," { print uri; exit }')
    echo "deb [arch=$2 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror:-http://deb.debian.org/debian} $1 main" \
        >"$root/etc/apt/sources.list"
    # This machine's proxy and its leave to read old Release files, nothing else.
    apt-config dump | grep -E '^Acquire::(https?::Proxy|Check-Valid-Until|Check-Date)' >"$root/etc/apt/apt.conf" || true
    echo "$root"
}
apt_in() {
    root=$1
    arch=$2
    shift 2
    APT_CONFIG=$root/etc/apt/apt.conf apt-get -o Dir="$root" -o Dir::State::status="$root/var/lib/dpkg/status" \
        -o APT::Architecture="$arch" -o APT::Architectures="$arch" -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root "$@"
}
# The Depends of DEB name packages of its architecture's Debian: no copy of a
# library built for the cross compilers, no architecture qualifier. apt's
# resolver takes both: those packages are Architecture: all, and a qualifier
# of the machine's own architecture is met.
depends_plain() {
    depends=$(dpkg-deb -f "$1" Depends)
    case $depends in
        *-cross* | *:*) echo "Depends: $depends names a cross library or an architecture"; return 1 ;;
    esac
}
# apt's resolver installs DEB (simulated) in ROOT, for ARCH.
depends_met() {
    apt_in "$2" "$3" install --simulate --no-install-recommends "$1" >"$work/apt.log" 2>&1 &&
        grep -q '^Inst glyphfall ' "$work/apt.log" || { cat "$work/apt.log"; return 1; }
}

# Read from another descriptor: the commands in the loop read standard input.
while read -r arch suite class order interpreter machine <&3; do
    [ -n "$arch" ] || continue
    deb=$debs/glyphfall_${version}_$arch.deb
    [ -f "$deb" ] || continue
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$arch: Architecture: $(dpkg-deb -f "$deb" Architecture)"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$arch: Version: $(dpkg-deb -f "$deb" Version)"
    echo "$arch: Depends: $(dpkg-deb -f "$deb" Depends)"

    dpkg-deb -x "$deb" "$work/root-$arch"
    program=$work/root-$arch/usr/games/glyphfall
    header=$(readelf -h "$program")
    printf '%s\n' "$header" | grep -q "Class: *$class\$" || fail "$arch: the program is not $class"
    printf '%s\n' "$header" | grep -q "Data: *2's complement, $order endian\$" || fail "$arch: the program is not $order endian"
    printf '%s\n' "$header" | grep -q "Machine: *$machine\$" || fail "$arch: the program's machine is not $machine"
    readelf -l "$program" | grep -qF "[Requesting program interpreter: $interpreter]" ||
        fail "$arch: the program does not ask for $interpreter"
    readelf -d "$program" | grep -q 'NEEDED.*\[libc\.so\.6\]' || fail "$arch: the program is not linked to libc.so.6"
    echo "$arch: the program: $class, $order endian, $machine, $interpreter"

    # lintian on the build's upload, its files gathered as it left them.
    upload=$work/upload-$arch
    mkdir "$upload"
    ln -s "$deb" "$upload/"
    for file in "$debs"/builds/glyphfall*_"${version}_$arch".*; do
        ln -s "$file" "$upload/"
    done
    echo "$arch: lintian:"
    sh "$source/tests/check_lintian.sh" "$upload/glyphfall_${version}_$arch.changes" || fail "$arch: lintian"

    root=$(apt_root "$suite" "$arch")
    if ! apt_in "$root" "$arch" update -qq >"$work/update.log" 2>&1; then
        cat "$work/update.log"
        fail "$arch: apt-get update of $suite failed"
        continue
    fi
    depends_plain "$deb" || fail "$arch: Depends name what its Debian has not"
    if depends_met "$deb" "$root" "$arch"; then
        echo "$arch: Depends met by Debian $suite's $arch packages: $(grep -c '^Inst ' "$work/apt.log") to install"
    else
        fail "$arch: Depends not met by Debian $suite's $arch packages"
    fi
done 3<<EOF
$architectures
EOF

# Copies of the armhf package with Depends that a cross build can get wrong,
# each refused by the check named beside it: apt (the resolver) or plain (the
# names).
arch=armhf
deb=$debs/glyphfall_${version}_$arch.deb
root=$(apt_root bookworm "$arch")
while read -r check broken <&3; do
    [ -n "$check" ] || continue
    copy=$work/broken
    rm -rf "$copy" "$copy.deb"
    dpkg-deb -R "$deb" "$copy"
    sed -i "s/^Depends: .*/Depends: $broken/" "$copy/DEBIAN/control"
    dpkg-deb --nocheck --root-owner-group -b "$copy" "$copy.deb" >/dev/null 2>&1
    if [ "$check" = apt ]; then
        if depends_met "$copy.deb" "$root" "$arch" >/dev/null; then
            fail "$arch: apt met Depends: $broken"
        else
            echo "$arch: apt refuses Depends: $broken: $(grep -E '^ *glyphfall : Depends' "$work/apt.log" | tr -s ' ')"
        fi
    elif depends_plain "$copy.deb" >/dev/null; then
        fail "$arch: Depends: $broken taken for a plain one"
    else
        met=refused
        depends_met "$copy.deb" "$root" "$arch" >/dev/null && met=met
        echo "$arch: refused as not plain (apt alone: $met): Depends: $broken"
    fi
done 3<<EOF
apt   libc6:arm64 (>= 2.36)
apt   libc6 (>= 2.36), libstdc++6 (>= 99)
plain libc6 (>= 2.36), libgcc-s1-armhf-cross
plain libc6:armhf (>= 2.36)
EOF

[ "$failures" -eq 0 ] || exit 1
if [ -n "${2:-}" ]; then
    rm -rf "$2"
    mkdir -p "$2"
    find "$debs" -maxdepth 1 -type f -name 'glyphfall_*' -exec cp {} "$2/" \;
fi
