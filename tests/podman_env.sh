# Sourced by the tests that run podman: a podman of their own, whose storage,
# state and configuration live in a scratch folder, $work, removed when the
# test ends. This machine's podman needs two settings that users do not:
# runc, as crun fails here, and limits of open files and processes that the
# runtime may set. Containers get no network: none of these tests needs one,
# and none should leave a bridge or a firewall rule behind. Each test defines
# `fail`.
# podman_or_skip PROGRAM: says why and ends the test with 77 where podman
# cannot start a container at all, from a folder holding only PROGRAM as its
# root, so that no image is involved (where the kernel refuses namespaces, as
# in a chroot).

work=$(mktemp -d)
mkdir "$work/tmp"
cat >"$work/containers.conf" <<CONF
[containers]
default_ulimits = ["nofile=1024:1024", "nproc=1024:1024"]
netns = "none"

[engine]
runtime = "runc"
tmp_dir = "$work/tmp"
events_logger = "none"
CONF
cat >"$work/storage.conf" <<CONF
[storage]
driver = "vfs"
graphroot = "$work/storage"
runroot = "$work/run"
CONF
export CONTAINERS_CONF="$work/containers.conf" CONTAINERS_STORAGE_CONF="$work/storage.conf" TMPDIR="$work/tmp"
cleanup() {
    podman rm --all --force >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

podman_or_skip() {
    mkdir "$work/probe"
    cp "$1" "$work/probe/program"
    if ! podman run --rm --rootfs "$work/probe" /program -V >"$work/probe.log" 2>&1; then
        why=$(unshare --user --map-root-user true 2>&1) && why="user namespaces allowed"
        echo "skipped: podman cannot start a container here ($(tail -n 1 "$work/probe.log"); $why)"
        exit 77
    fi
}
