#!/bin/sh
# The APT repository as a user meets it, in fresh Debian 12 roots
# (tests/apt_root.sh), the repository served on 127.0.0.1 by site/serve.mjs
# with the host of the page's commands swapped for it. CASE is one of:
#   install   the page's commands add the repository, apt verifies it and
#             installs glyphfall, which runs in a pseudo-terminal and draws
#             the native program's frames; apt-get source fetches the source
#             package whole; the page's removal commands leave nothing
#   upgrade   a later version (a changelog entry of the test's own) added to
#             the repository: apt-get upgrade installs it, the first stays in
#             the pool and its indices under by-hash
#   refused   another key, no signature, one byte of the Packages files, one
#             byte of the .deb: apt refuses, in its own words, and nothing is
#             installed
#   foreign   arm64 and armhf added with dpkg --add-architecture, as a user
#             does: glyphfall:arm64, then glyphfall:armhf, from the
#             repository, drawing the native program's frames under qemu-user
#   same      the source package and the repository made again from a second
#             clone, elsewhere, later, under another umask, from the files in
#             another order: the same bytes
# SITE is the built page, DEBS what the repository was made from, signed in
# GNUPGHOME by FINGERPRINT; INSTALL and REMOVE the page's two blocks of
# commands; PROGRAM this machine's build of glyphfall. Exits 77 with the
# reason where no root can be made.
# usage: check_apt.sh CASE SITE DEBS FINGERPRINT INSTALL REMOVE PROGRAM
set -eu
case=$1
site=$(realpath "$2")
debs=$(realpath "$3")
fingerprint=$4
install=$(cat "$5")
remove=$(cat "$6")
program=$(realpath "$7")
top=$(dirname "$(realpath "$0")")/..
. "$top/tests/apt_root.sh"
if why=$(apt_root_refused) && [ -n "$why" ]; then
    echo "skipped: $why"
    exit 77
fi
home=$("$program" -V | sed -n 2p)
version=$("$program" -V | sed -n '1s/^glyphfall //p')
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
server=
stop_server() {
    [ -z "$server" ] || { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
    server=
}
trap 'stop_server; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The host the roots reach: $work/host, its debian/ a copy of what is given,
# the URIs of glyphfall.sources swapped like the page's commands.
serve() { # REPOSITORY
    rm -rf "$work/host"
    mkdir -p "$work/host"
    cp -R "$1" "$work/host/debian"
    if [ -z "$server" ]; then
        node "$top/site/serve.mjs" "$work/host" 0 >"$work/served" 2>&1 &
        server=$!
        for _ in $(seq 50); do grep -q 'at http' "$work/served" && break; sleep 0.1; done
        origin=$(sed -n 's|.* at \(http://127.0.0.1:[0-9]*\)/.*|\1|p' "$work/served")
        [ -n "$origin" ] || { cat "$work/served" >&2; exit 1; }
    fi
    sed -i "s|$home/|$origin/|g" "$work/host/debian/glyphfall.sources"
}
host() { echo "$1" | sed "s|$home/|$origin/|g"; }

# Runs the page's INSTALL commands in a new root FOLDER, answering yes;
# the output in FOLDER.log. Returns their status. page_commands runs them in
# a root made already.
page_install() {
    apt_root_make "$1"
    page_commands "$1" "$install"
}
page_commands() { # FOLDER COMMANDS
    status=0
    yes | apt_root_run "$1" sh -exc "$(host "$2")" >"$1.log" 2>&1 || status=$?
    return "$status"
}
# dpkg's status of glyphfall in root FOLDER, or nothing.
installed() { apt_root_run "$1" dpkg-query -W -f '${Status} ${Version}' glyphfall 2>/dev/null || true; }

# The frames of a program in an 80x24 pseudo-terminal, seed 42, ended after
# two seconds: up to the fourth frame. RUN is how to start it, COMMAND the
# program (a command line for sh).
frames() { # COMMAND RUN... > output
    command=$1
    shift
    "$@" script -qfec "stty rows 24 cols 80; timeout --foreground -s INT 2 $command -r 42 -s 20" /dev/null </dev/null |
        awk 'BEGIN { RS = "\033\\[H"; ORS = "" } NR <= 4 { print (NR > 1 ? "\033[H" : "") $0 } NR == 5 { print "\n<4 frames>"; exit }'
}
# The native program's frames, in FILE once.
native_frames() {
    [ -f "$work/native.frames" ] || frames "$program" env >"$work/native.frames"
}
same_frames() { # LABEL FILE
    if ! grep -q '<4 frames>' "$2"; then
        fail "$1: fewer than 4 frames"
    elif cmp -s "$2" "$work/native.frames"; then
        echo "frames: $1, the first 4 in 80x24, $(wc -c <"$2") bytes, the same as $program's"
    else
        fail "$1: other frames than $program's"
    fi
}

repository=$site/debian
[ -f "$repository/dists/stable/InRelease" ] || { echo "FAIL: $site publishes no signed repository" >&2; exit 1; }

case $case in
install)
    serve "$repository"
    root=$work/root
    if ! page_install "$root"; then
        cat "$root.log" >&2
        fail "the page's commands failed"
    fi
    spaced=$(echo "$fingerprint" | sed 's/..../& /g; s/ $//; s/\(\(.... \)\{4\}....\) /\1  /')
    grep -qF "$spaced" "$root.log" || fail "gpg does not show the fingerprint $spaced"
    ! grep -E '^(W|E|Err):' "$root.log" >&2 || fail "apt warns or fails"
    sed -n '/apt update/,$p' "$root.log" | tr -d '\r' | grep -E "^(Get|Hit|Setting up glyphfall)" | head -n 8
    echo "installed: $(installed "$root")"
    case $(installed "$root") in "install ok installed $version"-*) ;; *) fail "glyphfall is not installed" ;; esac
    for file in /usr/games/glyphfall /usr/share/man/man6/glyphfall.6.gz /usr/share/bash-completion/completions/glyphfall \
        /usr/share/zsh/vendor-completions/_glyphfall /usr/share/fish/vendor_completions.d/glyphfall.fish; do
        [ -f "$root$file" ] || fail "no $file"
    done
    printed=$(apt_root_run "$root" /usr/games/glyphfall -V | head -n 1)
    echo "glyphfall -V: $printed"
    [ "$printed" = "glyphfall $version" ] || fail "glyphfall -V says $printed"
    frames glyphfall apt_root_run "$root" env PATH=/usr/games:/usr/bin:/bin >"$work/installed.frames"
    native_frames
    same_frames "glyphfall as installed" "$work/installed.frames"

    # The sources: deb-src as the page says, all files fetched and checked.
    sed -i 's/^Types: deb$/Types: deb deb-src/' "$root/etc/apt/sources.list.d/glyphfall.sources"
    if apt_root_run "$root" sh -ec 'apt-get -q update && cd /tmp && apt-get -q source --download-only glyphfall && ls' \
        >"$root.source.log" 2>&1; then
        dsc=$(ls "$repository"/pool/main/g/glyphfall/*.dsc | sort -V | tail -n 1)
        for name in $(sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* //p' "$dsc") "$(basename "$dsc")"; do
            grep -qx "$name" "$root.source.log" || fail "apt-get source fetched no $name"
        done
        grep -q '\.orig\.tar\.gz\.asc$' "$root.source.log" || fail "the source package has no signature of its tarball"
    else
        cat "$root.source.log" >&2
        fail "apt-get source failed"
    fi

    if ! yes | apt_root_run "$root" sh -exc "$(host "$remove")" >"$root.remove.log" 2>&1; then
        cat "$root.remove.log" >&2
        fail "the page's removal commands failed"
    fi
    [ -z "$(installed "$root" | grep -v '^unknown ok not-installed')" ] || fail "still there: $(installed "$root")"
    for file in /usr/games/glyphfall /etc/apt/sources.list.d/glyphfall.sources /etc/apt/keyrings/glyphfall-archive-keyring.pgp; do
        [ ! -e "$root$file" ] || fail "$file is left"
    done
    ! ls "$root/var/lib/apt/lists" | grep -q 127.0.0.1 || fail "apt keeps the repository's lists: $(ls "$root/var/lib/apt/lists")"
    ;;
upgrade)
    # The later version: the source package with a changelog entry of the
    # test's own, a day after the release, built without its tests.
    mkdir "$work/src" "$work/v2"
    (cd "$work/src" && dpkg-source -q -x "$(ls "$debs"/glyphfall_*.dsc | sort -V | tail -n 1)" tree >/dev/null 2>&1)
    old=$(dpkg-parsechangelog -l "$work/src/tree/debian/changelog" -S Version)
    new=${old%-*}-$((${old##*-} + 1))
    when=$(TZ=UTC0 date -R -d "@$(($(dpkg-parsechangelog -l "$work/src/tree/debian/changelog" -S Timestamp) + 86400))")
    { printf 'glyphfall (%s) unstable; urgency=medium\n\n  * A later version, for the upgrade test.\n\n -- %s  %s\n\n' \
        "$new" "$(dpkg-parsechangelog -l "$work/src/tree/debian/changelog" -S Maintainer)" "$when"
      cat "$work/src/tree/debian/changelog"; } >"$work/changelog"
    mv "$work/changelog" "$work/src/tree/debian/changelog"
    cp "$debs"/glyphfall_*.orig.tar.* "$work/src/"
    if ! (cd "$work/src/tree" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -us -uc -d -Pnocheck) \
        >"$work/v2.log" 2>&1; then
        tail -n 40 "$work/v2.log" >&2
        echo "FAIL: the later version did not build" >&2
        exit 1
    fi
    cp "$work"/src/glyphfall_"$new"* "$work"/src/glyphfall_*.orig.tar.* "$work/v2/"
    rm -f "$work"/v2/*.changes "$work"/v2/*.buildinfo

    serve "$repository"
    root=$work/root
    page_install "$root" || { cat "$root.log" >&2; fail "the page's commands failed"; }
    echo "first: $(installed "$root")"
    cp -R "$repository" "$work/repository"
    "$top/scripts/apt-repository" "$work/v2" "$work/repository" "$fingerprint" >"$work/v2-repo.log" 2>&1 ||
        { cat "$work/v2-repo.log" >&2; exit 1; }
    serve "$work/repository"
    apt_root_run "$root" sh -exc 'apt-get update && apt-get -y upgrade' >"$root.upgrade.log" 2>&1 ||
        { cat "$root.upgrade.log" >&2; fail "apt-get upgrade failed"; }
    tr -d '\r' <"$root.upgrade.log" | grep -E '^(Get:|The following packages will be upgraded|Unpacking|Setting up)' | sed 's/^/upgrade: /'
    echo "then: $(installed "$root")"
    [ "$(installed "$root")" = "install ok installed $new" ] || fail "the upgrade installed $(installed "$root")"
    for name in "glyphfall_${old}_$arch.deb" "glyphfall_$old.dsc" "glyphfall_${new}_$arch.deb" "glyphfall_$new.dsc"; do
        [ -f "$work/repository/pool/main/g/glyphfall/$name" ] || fail "the pool lacks $name"
    done
    policy=$(apt_root_run "$root" apt-cache policy glyphfall)
    echo "$policy" | grep -q " $old " || fail "apt sees no $old: $policy"
    # The first state's indices are still there under their checksums.
    for sum in $(awk '/^SHA256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /Packages$/ { print $1 "=" $3 }' \
        "$repository/dists/stable/Release"); do
        path=$(dirname "${sum#*=}")/by-hash/SHA256/${sum%%=*}
        cmp -s "$work/repository/dists/stable/$path" "$repository/dists/stable/${sum#*=}" || fail "by-hash lost $path"
    done
    ;;
refused)
    other=$work/other
    (
        . "$top/tests/throwaway_key.sh"
        mkdir "$other"
        throwaway_key "$other" "$(date +%s)"
        gpg --batch --yes --armor --clearsign -o "$other.InRelease" "$repository/dists/stable/Release" 2>/dev/null
        gpg --batch --yes --armor --detach-sign -o "$other.Release.gpg" "$repository/dists/stable/Release" 2>/dev/null
        throwaway_key_end
    )
    for spoil in key unsigned packages deb; do
        copy=$work/$spoil
        cp -R "$repository" "$copy"
        dists=$copy/dists/stable
        case $spoil in
        key)
            cp "$other.InRelease" "$dists/InRelease"
            cp "$other.Release.gpg" "$dists/Release.gpg"
            said="NO_PUBKEY|is not signed" ;;
        unsigned)
            rm "$dists/InRelease" "$dists/Release.gpg"
            said="is not signed" ;;
        packages)
            # Every copy: the index, compressed, under its checksums.
            index=$dists/main/binary-$arch
            sums=$(awk '/^SHA256:/ { on = 1; next } /^[^ ]/ { on = 0 } on { print $1, $3 }' "$dists/Release")
            sed -i '0,/^Version: /s/^Version: \(.*\)/Version: \1+/' "$index/Packages"
            gzip -9 -n -c "$index/Packages" >"$index/Packages.gz"
            xz -c "$index/Packages" >"$index/Packages.xz"
            for kind in Packages Packages.gz Packages.xz; do
                sum=$(echo "$sums" | awk -v path="main/binary-$arch/$kind" '$2 == path { print $1 }')
                cp "$index/$kind" "$index/by-hash/SHA256/$sum"
            done
            said="Hash Sum mismatch|File has unexpected size" ;;
        deb)
            deb=$(ls "$copy"/pool/main/g/glyphfall/*_"$arch".deb | tail -n 1)
            size=$(stat -c %s "$deb")
            byte=$(od -An -tu1 -j $((size / 2)) -N1 "$deb" | tr -d ' ')
            printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
                dd of="$deb" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
            said="Hash Sum mismatch|Size mismatch" ;;
        esac
        serve "$copy"
        root=$work/root-$spoil
        page_install "$root" && fail "$spoil: the page's commands went through"
        words=$(grep -E "$said" "$root.log" || true)
        [ -n "$words" ] || { cat "$root.log" >&2; fail "$spoil: apt does not say /$said/"; }
        echo "$words" | sed "s/^/$spoil: /"
        [ -z "$(installed "$root" | grep -v '^unknown ok not-installed')" ] || fail "$spoil: installed $(installed "$root")"
        [ ! -e "$root/usr/games/glyphfall" ] || fail "$spoil: /usr/games/glyphfall is there"
        if [ "$spoil" != deb ] && ls "$root/var/lib/apt/lists" | grep -q '127.0.0.1.*Packages'; then
            fail "$spoil: apt took the repository's Packages: $(ls "$root/var/lib/apt/lists")"
        fi
        rm -rf "$root" "$copy"
    done
    ;;
same)
    # A second clone makes the source package again from the same signed
    # tarball, and the repository, in another place, a day later, under
    # another umask and time zone, with the files copied in reverse order.
    git clone -q --no-hardlinks "$top" "$work/clone"
    mkdir "$work/debs" "$work/source"
    for file in $(ls -r "$debs"); do
        case $file in *.deb) cp "$debs/$file" "$work/debs/" ;; esac
    done
    orig=$(ls "$debs"/glyphfall_*.orig.tar.gz)
    cp "$orig" "$work/glyphfall-$version.tar.gz"
    cp "$orig.asc" "$work/glyphfall-$version.tar.gz.asc"
    gpg --batch --export --export-options export-minimal --armor "$fingerprint" >"$work/key.asc"
    (umask 0002 && cd "$work" && export TZ=Pacific/Auckland &&
        GLYPHFALL_UPSTREAM_KEY=$work/key.asc faketime -f +1d "$work/clone/scripts/debian-package" \
            "$work/glyphfall-$version.tar.gz" "$work/source" &&
        find "$work/source" -maxdepth 1 -type f -name 'glyphfall_*' | sort -r | xargs -I{} cp {} "$work/debs/" &&
        faketime -f +1d "$work/clone/scripts/apt-repository" "$work/debs" "$work/again" "$fingerprint") \
        >"$work/again.log" 2>&1 || { cat "$work/again.log" >&2; exit 1; }
    if diff -r "$repository" "$work/again" >"$work/diff" 2>&1; then
        echo "the same bytes from a second clone: $(find "$repository" -type f | wc -l) files"
    else
        cat "$work/diff" >&2
        fail "the repository made again differs"
    fi
    ;;
foreign)
    # Another architecture, as a user adds one: its C library from Debian's
    # mirror (the root keeps Debian's sources), glyphfall from the
    # repository, run under qemu-user; armhf too, a 32-bit one.
    command -v qemu-aarch64 >/dev/null && command -v qemu-arm >/dev/null || "$top/scripts/need-packages" qemu-user
    serve "$repository"
    root=$work/root
    apt_root_make "$root" debian
    for foreign in arm64 armhf; do
        grep -qx "Architectures: .*\b$foreign\b.*" "$repository/dists/stable/Release" ||
            { fail "the repository has no $foreign"; continue; }
        apt_root_run "$root" dpkg --add-architecture "$foreign"
        page_commands "$root" "$(echo "$install" | sed "s/^sudo apt install glyphfall\$/sudo apt install glyphfall:$foreign/")" ||
            { cat "$root.log" >&2; fail "$foreign: the page's commands failed"; continue; }
        state=$(apt_root_run "$root" dpkg-query -W -f '${Status} ${Version} ${Architecture}' glyphfall:"$foreign" || true)
        echo "$foreign: $state"
        case $state in "install ok installed $version-"*" $foreign") ;; *) fail "$foreign: glyphfall:$foreign is not installed" ;; esac
        case $foreign in arm64) qemu=qemu-aarch64 ;; armhf) qemu=qemu-arm ;; esac
        printed=$($qemu -L "$root" "$root/usr/games/glyphfall" -V | head -n 1)
        echo "$foreign: $qemu: glyphfall -V: $printed"
        [ "$printed" = "glyphfall $version" ] || fail "$foreign: glyphfall -V says $printed"
        frames "$qemu -L $root $root/usr/games/glyphfall" env >"$work/$foreign.frames"
        native_frames
        same_frames "glyphfall:$foreign under $qemu" "$work/$foreign.frames"
    done
    ;;
*) echo "usage: check_apt.sh install|upgrade|refused|same|foreign SITE DEBS FINGERPRINT INSTALL REMOVE PROGRAM" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ] || { echo "$failures failed" >&2; exit 1; }
echo "apt $case: ok"
