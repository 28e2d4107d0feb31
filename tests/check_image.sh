#!/bin/sh
# The container image of the release in DIST_DIR, NAME-oci.tar, against the
# release's archives and the last commit, without running it:
# - its index.json names one index, glyphfall:VERSION, that lists nine images,
#   one per Debian release architecture with its OCI platform, each of which
#   skopeo finds for that platform;
# - each image: one layer holding just /glyphfall (0:0, 755), the very program
#   of that architecture's archive, and /LICENSE (0:0, 644), both dated at the
#   commit; the program its entry point with no arguments, run as
#   65534:65534, not root; os, architecture and variant those of its
#   platform; created at the commit; the labels title, description, version,
#   licence, source, home page and revision.
# usage: tests/check_image.sh SOURCE_DIR DIST_DIR NAME
set -eu
source=$(realpath "$1")
dist=$(realpath "$2")
name=$3
version=${name##*-}
archive=$dist/$name-oci.tar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -C "$source" rev-parse --verify -q HEAD >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
"$source/scripts/need-packages" jq skopeo

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

commit=$(git -C "$source" rev-parse HEAD)
seconds=$(git -C "$source" log -1 --format=%ct)
created=$(TZ=UTC0 date -d "@$seconds" '+%Y-%m-%dT%H:%M:%SZ')
date=$(TZ=UTC0 date -d "@$seconds" '+%Y-%m-%d %H:%M:%S')

# What the labels must say, each from where the project keeps it: the home
# page as the program prints it.
mkdir "$work/amd64"
tar -xzf "$dist/$name-linux-amd64.tar.gz" -C "$work/amd64" --strip-components=2 "$name-linux-amd64/bin/glyphfall"
cat >"$work/labels" <<EOF
org.opencontainers.image.description=$(sed -n 's/^project(.* DESCRIPTION "\([^"]*\)".*/\1/p' "$source/CMakeLists.txt")
org.opencontainers.image.licenses=MIT
org.opencontainers.image.revision=$commit
org.opencontainers.image.source=$(sed -n 's/^Repository: *//p' "$source/debian/upstream/metadata")
org.opencontainers.image.title=glyphfall
org.opencontainers.image.url=$("$work/amd64/glyphfall" -V | sed -n 2p)
org.opencontainers.image.version=$version
EOF
grep -q '=$' "$work/labels" && fail "a label the test cannot find out: $(grep '=$' "$work/labels")"

mkdir "$work/layout"
tar -xf "$archive" -C "$work/layout"
blob() { echo "$work/layout/blobs/${1%%:*}/${1#*:}"; }
ref=glyphfall:$version
refs=$(jq -r '[.manifests[].annotations["org.opencontainers.image.ref.name"]] | join(" ")' "$work/layout/index.json")
[ "$refs" = "$ref" ] || fail "index.json names '$refs', not the one index '$ref'"
index=$(blob "$(jq -r '.manifests[0].digest' "$work/layout/index.json")")
[ "$(jq -r .mediaType "$index")" = application/vnd.oci.image.index.v1+json ] || fail "$ref is not an image index"
skopeo inspect --raw "oci-archive:$archive:$ref" | cmp -s - "$index" || fail "skopeo reads another index"

# Debian's architecture, then its platform: os, architecture, variant.
cat >"$work/platforms" <<'EOF'
amd64 linux amd64 -
i386 linux 386 -
armhf linux arm v7
armel linux arm v5
arm64 linux arm64 v8
ppc64el linux ppc64le -
s390x linux s390x -
riscv64 linux riscv64 -
mips64el linux mips64le -
EOF
jq -r '.manifests[] | "\(.platform.os) \(.platform.architecture) \(.platform.variant // "-")"' "$index" >"$work/listed"
awk '{ print $2, $3, $4 }' "$work/platforms" | diff - "$work/listed" >&2 || fail "the platforms of the index (< expected, > listed)"

while read -r arch os cpu variant; do
    top=$name-linux-$arch
    [ "$variant" = - ] && variant=
    digest=$(jq -r --arg os "$os" --arg cpu "$cpu" --arg variant "$variant" \
        '.manifests[] | select(.platform.os == $os and .platform.architecture == $cpu and (.platform.variant // "") == $variant) | .digest' \
        "$index")
    [ -n "$digest" ] || { fail "$arch: no image for $os/$cpu${variant:+/$variant}"; continue; }
    manifest=$(blob "$digest")
    config=$(blob "$(jq -r .config.digest "$manifest")")
    skopeo inspect --override-os "$os" --override-arch "$cpu" ${variant:+--override-variant "$variant"} \
        --config --raw "oci-archive:$archive:$ref" | cmp -s - "$config" ||
        fail "$arch: skopeo picks another image for $os/$cpu${variant:+/$variant}"
    [ "$(jq '.layers | length' "$manifest")" = 1 ] || fail "$arch: not one layer"
    jq -r '.os, .architecture, (.variant // "-"), .created, (.config.Entrypoint | tojson), (.config.Cmd | tojson),
        .config.User' "$config" | tr '\n' ' ' >"$work/config"
    expected="$os $cpu ${variant:--} $created [\"/glyphfall\"] null 65534:65534 "
    [ "$(cat "$work/config")" = "$expected" ] ||
        fail "$arch: os, architecture, variant, created, entry point, arguments, user: $(cat "$work/config"), not $expected"
    jq -r '.config.Labels | to_entries[] | "\(.key)=\(.value)"' "$config" | LC_ALL=C sort |
        diff "$work/labels" - >&2 || fail "$arch: the labels (< expected, > image)"

    layer=$(blob "$(jq -r '.layers[0].digest' "$manifest")")
    TZ=UTC0 tar --numeric-owner --full-time -tvzf "$layer" | awk '{ print $1, $2, $4, $5, $6 }' | LC_ALL=C sort >"$work/files"
    printf '%s\n' "-rw-r--r-- 0/0 $date LICENSE" "-rwxr-xr-x 0/0 $date glyphfall" |
        diff - "$work/files" >&2 || fail "$arch: the files of the layer (< expected, > packed)"
    mkdir "$work/$arch.image" "$work/$arch.archive"
    tar -xzf "$layer" -C "$work/$arch.image"
    tar -xzf "$dist/$top.tar.gz" -C "$work/$arch.archive" --strip-components=1 "$top/bin/glyphfall" "$top/LICENSE"
    cmp "$work/$arch.archive/bin/glyphfall" "$work/$arch.image/glyphfall" >&2 || fail "$arch: not the archive's program"
    cmp "$work/$arch.archive/LICENSE" "$work/$arch.image/LICENSE" >&2 || fail "$arch: not the archive's LICENSE"
    echo "$arch: $os/$cpu${variant:+/$variant}, $(sha256sum <"$work/$arch.image/glyphfall" | cut -c 1-16)..." \
        "$(jq '.config.size + ([.layers[].size] | add)' "$manifest") bytes with its configuration"
done <"$work/platforms"

[ "$failures" -eq 0 ] && echo "ok: $name-oci.tar holds the nine programs of the release, one image per platform"
