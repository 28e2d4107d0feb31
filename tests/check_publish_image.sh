#!/bin/sh
# `make publish-image` to a registry of the test's own: Debian's
# docker-registry, listening on 127.0.0.1 at a port the system picks, its
# storage in the scratch folder, stopped when the test ends. The registry must
# then serve the index by the version and each of the nine images as the
# release's NAME-oci.tar holds them, and podman pull from it the image of this
# machine and run it. Skipped (77), once the registry has been checked, where
# podman cannot start a container.
# usage: tests/check_publish_image.sh SOURCE_DIR DIST_DIR NAME
set -eu
source=$(realpath "$1")
dist=$(realpath "$2")
name=$3
version=${name##*-}
. "$(dirname "$0")/podman_env.sh"
registry=
trap '[ -z "$registry" ] || kill "$registry" 2>/dev/null || true; cleanup' EXIT
unset MAKEFLAGS MFLAGS MAKELEVEL

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cat >"$work/registry.yml" <<CONF
version: 0.1
log:
  accesslog:
    disabled: true
storage:
  filesystem:
    rootdirectory: $work/registry
http:
  addr: 127.0.0.1:0
CONF
docker-registry serve "$work/registry.yml" >"$work/registry.log" 2>&1 &
registry=$!
port=
tries=0
while [ -z "$port" ]; do
    kill -0 "$registry" 2>/dev/null || { cat "$work/registry.log" >&2; fail "the registry ended"; }
    tries=$((tries + 1))
    [ "$tries" -le 200 ] || { cat "$work/registry.log" >&2; fail "the registry does not listen after 20 s"; }
    sleep 0.1
    port=$(sed -n 's/.*msg="listening on 127\.0\.0\.1:\([0-9]*\)".*/\1/p' "$work/registry.log")
done
repository=127.0.0.1:$port/test
echo "registry: $repository"

make -s -C "$source" publish-image DIST="$dist" REGISTRY="$repository" PUBLISH_FLAGS=--dest-tls-verify=false \
    >"$work/publish.log" 2>&1 || { cat "$work/publish.log" >&2; fail "make publish-image"; }

mkdir "$work/layout"
tar -xf "$dist/$name-oci.tar" -C "$work/layout"
blob() { echo "$work/layout/blobs/${1%%:*}/${1#*:}"; }
index=$(blob "$(jq -r '.manifests[0].digest' "$work/layout/index.json")")
skopeo inspect --tls-verify=false --raw "docker://$repository/glyphfall:$version" | cmp -s - "$index" ||
    fail "the registry serves another index as glyphfall:$version"
count=0
for digest in $(jq -r '.manifests[].digest' "$index"); do
    skopeo inspect --tls-verify=false --raw "docker://$repository/glyphfall@$digest" | cmp -s - "$(blob "$digest")" ||
        fail "the registry serves another image as $digest"
    count=$((count + 1))
done
[ "$count" -eq 9 ] || fail "$count images in the index"
echo "ok: make publish-image: the registry serves glyphfall:$version, its index and its $count images as released"

top=$name-linux-$(dpkg --print-architecture)
tar -xzf "$dist/$top.tar.gz" -C "$work" "$top/bin/glyphfall"
program=$work/$top/bin/glyphfall
podman_or_skip "$program"
image=$repository/glyphfall:$version
podman run --rm --tls-verify=false "$image" -V >"$work/version" 2>"$work/pull.log" ||
    { cat "$work/pull.log" >&2; fail "podman run --rm $image -V"; }
"$program" -V | cmp - "$work/version" >&2 || fail "-V from the registry's image: $(cat "$work/version")"
# An image's ID is the digest of its configuration.
pulled=sha256:$(podman image inspect --format '{{.ID}}' "$image")
mine=$(jq -r --arg arch "$(podman info --format '{{.Host.Arch}}')" \
    '.manifests[] | select(.platform.architecture == $arch) | .digest' "$index")
mine=$(jq -r .config.digest "$(blob "$mine")")
[ "$pulled" = "$mine" ] || fail "podman pulled the image $pulled, not that of this machine, $mine"
echo "ok: podman run --rm $image -V pulls the image of this machine: $(head -n 1 "$work/version")"
