#!/bin/sh
# The container image of the release in DIST_DIR, NAME-oci.tar, run by podman
# as the README says: `-V` prints what the program prints outside; without
# `-t` the program finds no terminal and says so; then, with `-it` in a
# pseudo-terminal, the same bytes as outside, a size change taken up, Ctrl-C
# typed (CONTAINER_RUN, tests/container_run.cpp). Outside is the amd64
# archive's program, the file the image of this machine holds. Skipped (77)
# where podman cannot start a container.
# usage: tests/check_container.sh DIST_DIR NAME CONTAINER_RUN
set -eu
dist=$(realpath "$1")
name=$2
container_run=$(realpath "$3")
. "$(dirname "$0")/podman_env.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

top=$name-linux-$(dpkg --print-architecture)
tar -xzf "$dist/$top.tar.gz" -C "$work" "$top/bin/glyphfall"
program=$work/$top/bin/glyphfall
podman_or_skip "$program"

podman load --quiet -i "$dist/$name-oci.tar" >"$work/load" 2>&1 || { cat "$work/load" >&2; fail "podman load"; }
image=$(sed -n 's/^Loaded image: //p' "$work/load")
echo "podman load: $image"
[ "$image" = "localhost/${name##*-}:latest" ] || fail "loaded as '$image', not by the version"

podman run --rm "$image" -V >"$work/version" 2>&1 || { cat "$work/version" >&2; fail "podman run --rm $image -V"; }
"$program" -V | cmp - "$work/version" >&2 || fail "-V in the container: $(cat "$work/version")"
echo "ok: podman run --rm $image -V: $(head -n 1 "$work/version")"

status=0
podman run --rm "$image" -r 1 >"$work/out" 2>"$work/err" || status=$?
if [ "$status" -ne 1 ] || [ -s "$work/out" ] || [ "$(cat "$work/err")" != "Failed to determine terminal size" ]; then
    fail "without -t: status $status, output '$(cat "$work/out")', errors '$(cat "$work/err")'"
fi
echo "ok: podman run --rm $image without -t: status 1, Failed to determine terminal size"

"$container_run" "$program" "$(command -v podman)" "$image"
