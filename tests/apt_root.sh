# Sourced by the APT repository's tests: a fresh Debian 12 system, as a user
# has one, in a folder, to run apt in. It is minbase with what the download
# page's commands use (sudo, curl, gpg), made by mmdebstrap from this
# machine's Debian mirror and apt settings, kept as a tarball under
# ~/.cache/glyphfall for a month. Each root is unpacked from it anew.
# apt_root_run runs a command in one, in mount namespace of its own with its
# own /proc and the host's /dev, on the host's network so that 127.0.0.1 is
# this machine's.
# usage: . tests/apt_root.sh; apt_root_make FOLDER; apt_root_run FOLDER COMMAND...
apt_root_tarball=${XDG_CACHE_HOME:-$HOME/.cache}/glyphfall/bookworm-$(dpkg --print-architecture)-apt.tar

# Says why a root cannot be made or entered here, or nothing.
apt_root_refused() {
    [ "$(id -u)" -eq 0 ] || { echo "a root for apt needs root"; return; }
    why=$(unshare --mount --fork --mount-proc true 2>&1) || { echo "the kernel refuses a mount namespace: $why"; return; }
}

apt_root_tarball() {
    [ -z "$(find "$apt_root_tarball" -mtime -30 2>/dev/null)" ] || return 0
    command -v mmdebstrap >/dev/null || "$(dirname "$0")/../scripts/need-packages" mmdebstrap
    apt-cache policy | grep -q 'o=Debian,.*n=bookworm' || apt-get -qq update
    sources=$(apt-cache policy | awk '
        $1 ~ /^[0-9]+$/ && $2 ~ /:\/\// { uri = $2; split($3, where, "/") }
        $1 == "release" && $2 ~ "o=Debian," && $2 ~ ",n=bookworm(-[a-z]+)?," { print "deb " uri " " where[1] " " where[2] }' |
        sort -u)
    [ -n "$sources" ] || sources="deb http://deb.debian.org/debian bookworm main"
    mkdir -p "$(dirname "$apt_root_tarball")"
    options=$(mktemp)
    apt-config dump | grep -E '^Acquire::(https?::Proxy|Check-Valid-Until|Check-Date)' >"$options" || true
    echo "making $apt_root_tarball"
    if ! echo "$sources" | mmdebstrap --mode=root --variant=minbase --include=sudo,curl,gpg,ca-certificates \
        --aptopt="$options" --format=tar bookworm "$apt_root_tarball.new" - >"$apt_root_tarball.log" 2>&1; then
        rm -f "$options"
        cat "$apt_root_tarball.log" >&2
        return 1
    fi
    rm -f "$options"
    mv "$apt_root_tarball.new" "$apt_root_tarball"
}

# A new root in FOLDER, with only the repository that the test gives it:
# Debian's own are taken out, so apt reaches 127.0.0.1 alone, unless the
# second argument is "debian".
apt_root_make() {
    apt_root_tarball
    mkdir -p "$1"
    tar -xf "$apt_root_tarball" -C "$1"
    [ "${2:-}" = debian ] || rm -f "$1/etc/apt/sources.list" "$1"/etc/apt/sources.list.d/*
    rm -rf "$1"/var/lib/apt/lists/*
    mkdir -p "$1/var/lib/apt/lists/partial"
    # sudo looks its host's name up.
    printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"$1/etc/hosts"
}

apt_root_run() {
    root=$1
    shift
    unshare --mount --fork sh -c '
        root=$1; shift
        mount --make-rprivate /
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mount -t tmpfs tmpfs "$root/tmp"
        exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=xterm-256color \
            LANG=C.UTF-8 "$@"' sh "$root" "$@"
}
