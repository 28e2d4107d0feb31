#!/bin/sh
# The container image of the release in DIST_DIR, NAME-oci.tar, run by podman
# as the README says: `podman load` names it localhost/glyphfall:VERSION, and
# it runs by its short name, glyphfall:VERSION; `-V` prints what the program
# prints outside; without `-t` the program finds no terminal and says so; its
# process runs as 65534:65534, or as root with `--user 0`, as podman top and
# /proc say; then, with `-it` in a pseudo-terminal, the same bytes as outside,
# a size change taken up, Ctrl-C typed (CONTAINER_RUN, tests/container_run.cpp). Outside is the amd64
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
loaded=$(sed -n 's/^Loaded image: //p' "$work/load")
echo "podman load: $loaded"
image=glyphfall:${name##*-}
[ "$loaded" = "localhost/$image" ] || fail "loaded as '$loaded', not as localhost/$image"

podman run --rm "$image" -V >"$work/version" 2>&1 || { cat "$work/version" >&2; fail "podman run --rm $image -V"; }
"$program" -V | cmp - "$work/version" >&2 || fail "-V in the container: $(cat "$work/version")"
echo "ok: podman run --rm $image -V: $(head -n 1 "$work/version")"

status=0
podman run --rm "$image" -r 1 >"$work/out" 2>"$work/err" || status=$?
if [ "$status" -ne 1 ] || [ -s "$work/out" ] || [ "$(cat "$work/err")" != "Failed to determine terminal size" ]; then
    fail "without -t: status $status, output '$(cat "$work/out")', errors '$(cat "$work/err")'"
fi
echo "ok: podman run --rm $image without -t: status 1, Failed to determine terminal size"

# Who the program runs as, read from a running container: its own view
# (podman top), and the kernel's, in /proc of the host. The program needs a
# terminal with a size to keep running: script's, sized by stty.
for case in "-:65534" "--user=0:0"; do
    option=${case%:*}
    uid=${case##*:}
    [ "$option" = - ] && option=
    # podman may start the program before its terminal has a size, which the
    # program refuses (tests/container_run.cpp): that start is made again.
    attempt=1
    while :; do
        script -qec "stty rows 24 cols 80 && exec podman run --rm -it --name user-check $option $image -s 1" \
            /dev/null </dev/null >"$work/script.log" 2>&1 &
        running=$!
        tries=0
        until [ "$(podman inspect --format '{{.State.Running}}' user-check 2>/dev/null)" = true ]; do
            kill -0 "$running" 2>/dev/null || break
            tries=$((tries + 1))
            [ "$tries" -le 200 ] || fail "${option:-no --user}: not running after 20 s"
            sleep 0.1
        done
        kill -0 "$running" 2>/dev/null && break
        wait "$running" || true
        if [ "$attempt" -ge 3 ] || ! grep -q 'Terminal size not appropriate' "$work/script.log"; then
            cat "$work/script.log" >&2
            fail "${option:-no --user}: the run ended"
        fi
        echo "podman started the program before its terminal had a size (try $attempt of 3)"
        podman rm --force --time 0 user-check >/dev/null 2>&1 || true
        attempt=$((attempt + 1))
    done
    pid=$(podman inspect --format '{{.State.Pid}}' user-check)
    top=$(podman top user-check user group | tail -n 1 | tr -s ' ')
    ids=$(awk '/^Uid:|^Gid:/ { print $1, $2, $3, $4, $5 }' "/proc/$pid/status" | tr '\n' ' ')
    comm=$(cat "/proc/$pid/comm")
    podman rm --force --time 0 user-check >/dev/null
    wait "$running" || true
    [ "$top" = "$uid $uid" ] || fail "${option:-no --user}: podman top says user and group '$top', not $uid"
    [ "$comm $ids" = "glyphfall Uid: $uid $uid $uid $uid Gid: $uid $uid $uid $uid " ] ||
        fail "${option:-no --user}: /proc/$pid: $comm $ids"
    echo "ok: podman run -it ${option:+$option }$image: the program runs as $uid:$uid (podman top, /proc/$pid)"
done

"$container_run" "$program" "$(command -v podman)" "$image"
