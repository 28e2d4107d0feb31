# Sourced by the checks that build from the tarball as a signed release
# leaves it, once they have set source to the checkout. In a folder of their
# own, $work (removed at exit): signed_make TARGET runs `make dist`, signs the
# tarball with a throwaway key (throwaway_key.sh), then runs `make TARGET`
# with that key in place of the release key in the package's debian/upstream.
# It shows the log, and exits 77 with the reason when TARGET says it is
# skipped, 1 when it fails.
. "$(dirname "$0")/throwaway_key.sh"
work=$(mktemp -d)
trap 'throwaway_key_end; rm -rf "$work"' EXIT

make_alone() { env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source" "$@"; }
signed_make() {
    throwaway_key "$work" "$(git -C "$source" log -1 --format=%ct)"
    status=0
    { make_alone dist BUILD="$work" &&
        for tarball in "$work"/dist/glyphfall-*.tar.gz; do
            gpg --batch --quiet --armor --detach-sign -u "$throwaway_fingerprint" -o "$tarball.asc" "$tarball"
        done &&
        GLYPHFALL_UPSTREAM_KEY=$throwaway_key make_alone "$1" BUILD="$work"; } >"$work/log" 2>&1 || status=$?
    if grep -q '^skipped: ' "$work/log"; then
        grep '^skipped: ' "$work/log"
        exit 77
    fi
    cat "$work/log"
    [ "$status" -eq 0 ] || { echo "FAIL: make $1 exited $status" >&2; exit 1; }
}
