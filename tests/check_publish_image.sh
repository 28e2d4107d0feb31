#!/bin/sh
# `make publish-image`, signed with a throwaway key, to a registry of the
# test's own: Debian's docker-registry, listening on 127.0.0.1 at a port the
# system picks, its storage in the scratch folder, stopped when the test ends.
# The registry must then serve the index as :VERSION and as :latest, one
# digest, and each of the nine images as the release's NAME-oci.tar holds
# them; the lookaside must hold, as registries.d reads it, the release key's
# signature of each manifest for each tag. Then as a user would, with the two
# files that the README gives (here in HOME/.config/containers) and the
# lookaside on a web server: podman pulls the image of this machine by either
# tag and runs it, and refuses the same image pushed beside it unsigned (by
# make publish-image without SIGNING_KEY, which leaves the lookaside alone),
# or signed by another key. Skipped (77), once the registry and the
# signatures have been checked, where podman cannot start a container.
# usage: tests/check_publish_image.sh SOURCE_DIR DIST_DIR NAME
set -eu
source=$(realpath "$1")
dist=$(realpath "$2")
name=$3
version=${name##*-}
. "$(dirname "$0")/podman_env.sh"
"$source/scripts/need-packages" gnupg nodejs
servers=
export GNUPGHOME="$work/gnupg"
trap 'for pid in $servers; do kill "$pid" 2>/dev/null || true; done
      gpgconf --kill gpg-agent 2>/dev/null || true
      cleanup' EXIT
unset MAKEFLAGS MFLAGS MAKELEVEL

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# listening WHAT LOG SED: waits for the server just started in the
# background, which logs to LOG, to say where it listens; sets port to what
# SED finds there.
listening() {
    servers="$servers $!"
    port=
    tries=0
    while [ -z "$port" ]; do
        kill -0 "$!" 2>/dev/null || { cat "$2" >&2; fail "$1 ended"; }
        tries=$((tries + 1))
        [ "$tries" -le 200 ] || { cat "$2" >&2; fail "$1 does not listen after 20 s"; }
        sleep 0.1
        port=$(sed -n "$3" "$2")
    done
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
listening "the registry" "$work/registry.log" 's/.*msg="listening on 127\.0\.0\.1:\([0-9]*\)".*/\1/p'
repository=127.0.0.1:$port/test
echo "registry: $repository"

# Two throwaway keys: the release's, and another one's.
mkdir -m 700 "$GNUPGHOME"
for who in release other; do
    gpg --batch --quiet --passphrase '' --quick-gen-key "$who <$who@example.org>" ed25519 sign never 2>/dev/null
done
fingerprint() { gpg --with-colons --list-keys "<$1@example.org>" | awk -F: '$1 == "fpr" { print $10; exit }'; }
key=$(fingerprint release)
other=$(fingerprint other)
gpg --armor --export "$key" >"$work/release-key.asc"

make -s -C "$source" publish-image DIST="$dist" REGISTRY="$repository" PUBLISH_FLAGS=--dest-tls-verify=false \
    SIGNING_KEY="$key" SIGNATURES="$work/signatures" >"$work/publish.log" 2>&1 ||
    { cat "$work/publish.log" >&2; fail "make publish-image"; }
tail -n 1 "$work/publish.log"

mkdir "$work/layout"
tar -xf "$dist/$name-oci.tar" -C "$work/layout"
blob() { echo "$work/layout/blobs/${1%%:*}/${1#*:}"; }
top_digest=$(jq -r '.manifests[0].digest' "$work/layout/index.json")
index=$(blob "$top_digest")
for tag in "$version" latest; do
    skopeo inspect --tls-verify=false --raw "docker://$repository/glyphfall:$tag" | cmp -s - "$index" ||
        fail "the registry serves another index as glyphfall:$tag"
done
count=0
for digest in $(jq -r '.manifests[].digest' "$index"); do
    skopeo inspect --tls-verify=false --raw "docker://$repository/glyphfall@$digest" | cmp -s - "$(blob "$digest")" ||
        fail "the registry serves another image as $digest"
    count=$((count + 1))
done
[ "$count" -eq 9 ] || fail "$count images in the index"
echo "ok: make publish-image: the registry serves glyphfall:$version and glyphfall:latest, both $top_digest," \
    "and its $count images as released"

# The lookaside: a folder for the index and one for each image, named by the
# repository's path and the digest, with the signature for :VERSION, then
# the one for :latest; each the release key's, for its tag.
folder() { echo "test/glyphfall@$(echo "$1" | tr : =)"; }
for digest in "$top_digest" $(jq -r '.manifests[].digest' "$index"); do
    printf '%s\n' "$(folder "$digest")/signature-1" "$(folder "$digest")/signature-2"
done | LC_ALL=C sort >"$work/expected"
(cd "$work/signatures" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | diff "$work/expected" - >&2 ||
    fail "the lookaside's files (< expected, > written)"
for digest in "$top_digest" $(jq -r '.manifests[].digest' "$index"); do
    n=1
    for tag in "$version" latest; do
        skopeo standalone-verify "$(blob "$digest")" "$repository/glyphfall:$tag" "$key" \
            "$work/signatures/$(folder "$digest")/signature-$n" >"$work/verify" 2>&1 ||
            { cat "$work/verify" >&2; fail "$(folder "$digest")/signature-$n: not the release key's for :$tag"; }
        n=$((n + 1))
    done
done
echo "ok: the lookaside holds the release key's signatures of the index and each image, for :$version and :latest"

# The same image pushed again beside it: by make publish-image without
# SIGNING_KEY, which must leave the lookaside as it was; and signed by the
# other key into the same lookaside.
(cd "$work/signatures" && find . -type f | LC_ALL=C sort) >"$work/before"
make -s -C "$source" publish-image DIST="$dist" REGISTRY="$repository/unsigned" PUBLISH_FLAGS=--dest-tls-verify=false \
    SIGNATURES="$work/signatures" >"$work/publish.log" 2>&1 ||
    { cat "$work/publish.log" >&2; fail "make publish-image without SIGNING_KEY"; }
tail -n 1 "$work/publish.log"
for tag in "$version" latest; do
    skopeo inspect --tls-verify=false --raw "docker://$repository/unsigned/glyphfall:$tag" | cmp -s - "$index" ||
        fail "the registry serves another index as unsigned/glyphfall:$tag"
done
(cd "$work/signatures" && find . -type f | LC_ALL=C sort) | cmp -s "$work/before" - ||
    fail "make publish-image without SIGNING_KEY changed the lookaside"
mkdir "$work/registries.d"
printf 'default-docker:\n  lookaside-staging: file://%s\n' "$work/signatures" >"$work/registries.d/staging.yaml"
skopeo --registries.d "$work/registries.d" copy --quiet --all --dest-tls-verify=false --sign-by "$other" \
    "oci-archive:$dist/$name-oci.tar:glyphfall:$version" "docker://$repository/impostor/glyphfall:$version" ||
    fail "skopeo copy to $repository/impostor/glyphfall:$version"

top=$name-linux-$(dpkg --print-architecture)
tar -xzf "$dist/$top.tar.gz" -C "$work" "$top/bin/glyphfall"
program=$work/$top/bin/glyphfall
podman_or_skip "$program"

# The lookaside on a web server, and the user's two files as the README gives
# them, with this registry and this server in place of the home page.
node "$source/site/serve.mjs" "$work/signatures" 0 >"$work/lookaside.log" 2>&1 &
listening "the lookaside's server" "$work/lookaside.log" 's|.* at http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p'
user=$work/home/.config/containers
mkdir -p "$user/registries.d"
cat >"$user/registries.d/glyphfall.yaml" <<CONF
docker:
  $repository:
    lookaside: http://127.0.0.1:$port
CONF
cat >"$user/policy.json" <<CONF
{
    "default": [{"type": "insecureAcceptAnything"}],
    "transports": {
        "docker": {
            "$repository": [
                {
                    "type": "signedBy",
                    "keyType": "GPGKeys",
                    "keyPath": "$work/release-key.asc"
                }
            ]
        }
    }
}
CONF
as_user() { HOME=$work/home podman "$@"; }

# An image's ID is the digest of its configuration.
mine=$(jq -r --arg arch "$(podman info --format '{{.Host.Arch}}')" \
    '.manifests[] | select(.platform.architecture == $arch) | .digest' "$index")
mine=$(jq -r .config.digest "$(blob "$mine")")
for tag in "$version" latest; do
    image=$repository/glyphfall:$tag
    as_user run --rm --pull=always --tls-verify=false "$image" -V >"$work/version" 2>"$work/pull.log" ||
        { cat "$work/pull.log" >&2; fail "podman run --rm $image -V, signatures required"; }
    "$program" -V | cmp - "$work/version" >&2 || fail "-V from the registry's image: $(cat "$work/version")"
    pulled=sha256:$(podman image inspect --format '{{.ID}}' "$image")
    [ "$pulled" = "$mine" ] || fail "podman pulled the image $pulled, not that of this machine, $mine"
    echo "ok: signatures required: podman run --rm $image -V pulls the image of this machine:" \
        "$(head -n 1 "$work/version")"
done

# Refused, in podman's own words: no signature of the unsigned image, and the
# other key's signature not accepted.
for case in "unsigned/glyphfall:latest:A signature was required, but no signature exists" \
    "impostor/glyphfall:$version:Invalid GPG signature"; do
    image=$repository/${case%:*}
    status=0
    as_user pull --quiet --tls-verify=false "$image" >"$work/refused" 2>&1 || status=$?
    if [ "$status" -eq 0 ] || ! grep -q "Source image rejected: ${case##*:}" "$work/refused"; then
        cat "$work/refused" >&2
        fail "podman pull $image: status $status, not refused with: ${case##*:}"
    fi
    echo "ok: podman pull $image: $(grep -o 'Source image rejected: .*' "$work/refused")"
done
