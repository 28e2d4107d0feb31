#!/bin/sh
# The release in DIST_DIR against the last commit, then the release made again
# in a second clone: in a folder of another name and depth, later, under
# umask 077, with nothing set by hand. Every file must be the same bytes.
# - the source tarball: exactly the committed files (paths, modes, contents)
#   but those that .gitattributes marks export-ignore (the Debian packaging),
#   under NAME/, owned by 0:0 and dated at the commit;
# - each archive: the folder NAME-linux-ARCH holding what `make install`
#   installs (`make installed`) with LICENSE and README.md, owned by 0:0,
#   dated at the commit, modes 755 or 644; its program built for ARCH;
# - the container image, NAME-oci.tar (tests/check_image.sh looks inside);
# - the bill of materials, NAME.cdx.json (site/test/bom.test.mjs reads it);
# - SHA256SUMS: the source tarball, the nine archives, the image and the bill
#   of materials, and they check;
# - a copy of the release signed by a throwaway key (scripts/sign): gpgv and
#   sqv verify SHA256SUMS.asc and the tarball's signature with it, and one byte
#   changed in any file, SHA256SUMS included, fails sha256sum -c or the
#   signature. The second release, signed by the same key, is the same bytes,
#   signatures included.
# usage: tests/check_release.sh SOURCE_DIR DIST_DIR NAME
set -eu
source=$(realpath "$1")
dist=$(realpath "$2")
name=$3
work=$(mktemp -d)
. "$(dirname "$0")/throwaway_key.sh"
trap 'throwaway_key_end; rm -rf "$work"' EXIT
command -v sqv >/dev/null || "$source/scripts/need-packages" sqv
unset MAKEFLAGS MFLAGS MAKELEVEL SOURCE_DATE_EPOCH

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

commit=$(git -C "$source" rev-parse HEAD)
date=$(TZ=UTC0 date -d "@$(git -C "$source" log -1 --format=%ct)" '+%Y-%m-%d %H:%M:%S')

# listing TARBALL: "MODE OWNER DATE TIME PATH" for each entry, the size left out.
listing() {
    TZ=UTC0 tar --numeric-owner --full-time -tvzf "$1" | awk '{ print $1, $2, $4, $5, $6 }'
}

# Each program's ELF header, as readelf names it: class, byte order, machine,
# and the float ABI where 32-bit ARM has two.
cat >"$work/machines" <<'EOF'
amd64 ELF64, little endian, Advanced Micro Devices X86-64
i386 ELF32, little endian, Intel 80386
armhf ELF32, little endian, ARM, hard-float ABI
armel ELF32, little endian, ARM, soft-float ABI
arm64 ELF64, little endian, AArch64
ppc64el ELF64, little endian, PowerPC64
s390x ELF64, big endian, IBM S/390
riscv64 ELF64, little endian, RISC-V
mips64el ELF64, little endian, MIPS R3000
EOF
header() {
    readelf -hW "$1" | awk -F': *' '
        /Class:/ { class = $2 }
        /Data:/ { order = ($2 ~ /big/) ? "big endian" : "little endian" }
        /Machine:/ { machine = $2 }
        /Flags:/ { if ($2 ~ /hard-float/) abi = ", hard-float ABI"; if ($2 ~ /soft-float/) abi = ", soft-float ABI" }
        END { print class ", " order ", " machine abi }'
}

# The source tarball against the commit's tree, less every file in or under a
# path marked export-ignore.
git -C "$source" ls-tree -r --name-only HEAD |
    awk '{ for (p = $0; p != ""; p = sub(/\/[^\/]*$/, "", p) ? p : "") print p }' | LC_ALL=C sort -u |
    git -C "$source" check-attr --cached --stdin export-ignore | sed -n 's/: export-ignore: set$//p' >"$work/ignored"
git -C "$source" ls-tree -r HEAD | awk -F '\t' 'NR == FNR { ignored[$0]; next }
    { for (p = $2; p != ""; p = sub(/\/[^\/]*$/, "", p) ? p : "") if (p in ignored) next; print }' \
    "$work/ignored" - >"$work/tree"
awk -v date="$date" -v name="$name" '
    { mode = $1 == "100755" ? "-rwxr-xr-x" : $1 == "120000" ? "lrwxrwxrwx" : "-rw-r--r--"
      print mode, "0/0", date, name "/" substr($0, index($0, "\t") + 1) }' "$work/tree" | LC_ALL=C sort >"$work/committed"
listing "$dist/$name.tar.gz" | grep -v '^d' | LC_ALL=C sort >"$work/packed"
diff "$work/committed" "$work/packed" >&2 || fail "the source tarball is not the commit's files (< commit, > tarball)"
listing "$dist/$name.tar.gz" | grep '^d' | grep -v "^drwxr-xr-x 0/0 $date " >&2 && fail "folders of the source tarball"
mkdir "$work/source"
tar -xzf "$dist/$name.tar.gz" -C "$work/source"
awk '{ print $3 }' "$work/tree" >"$work/blobs"
cut -f 2- "$work/tree" | sed "s|^|$work/source/$name/|" |
    git -C "$source" hash-object --no-filters --stdin-paths >"$work/contents"
cmp -s "$work/blobs" "$work/contents" || fail "the contents of the source tarball are not the commit's"

# The archives.
make -s -C "$source" installed | LC_ALL=C sort >"$work/installed"
while read -r arch machine; do
    archive=$dist/$name-linux-$arch.tar.gz
    top=$name-linux-$arch
    { printf '%s\n' LICENSE README.md; cat "$work/installed"; } | sed "s|^|$top/|" | LC_ALL=C sort >"$work/expected"
    listing "$archive" | grep -v '^d' | awk '{ print $5 }' | LC_ALL=C sort >"$work/files"
    diff "$work/expected" "$work/files" >&2 || fail "$arch: the files of the archive (< expected, > packed)"
    listing "$archive" | awk -v date="$date" -v program="$top/bin/glyphfall" '
        { mode = $1 ~ /^d/ ? "drwxr-xr-x" : $5 == program ? "-rwxr-xr-x" : "-rw-r--r--" }
        $1 != mode || $2 != "0/0" || $3 " " $4 != date' >"$work/odd"
    [ ! -s "$work/odd" ] || fail "$arch: modes, owners or dates: $(cat "$work/odd")"
    tar -xzf "$archive" -C "$work" "$top/bin/glyphfall"
    built=$(header "$work/$top/bin/glyphfall")
    [ "$built" = "$machine" ] || fail "$arch: the program is built for $built, not $machine"
    echo "$name.tar.gz" >>"$work/released"
    echo "$name-linux-$arch.tar.gz" >>"$work/released"
done <"$work/machines"
echo "$name-oci.tar" >>"$work/released"
echo "$name.cdx.json" >>"$work/released"
awk '{ print $2 }' "$dist/SHA256SUMS" | LC_ALL=C sort >"$work/summed"
LC_ALL=C sort -u "$work/released" | diff - "$work/summed" >&2 || fail "the files in SHA256SUMS (< released, > summed)"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check"

# The release signed, a copy of it.
throwaway_key "$work" "$(git -C "$source" log -1 --format=%ct)"
gpg --dearmor <"$throwaway_key" >"$work/keyring.gpg"
signed=$work/signed
mkdir "$signed"
for file in SHA256SUMS $(awk '{ print $2 }' "$dist/SHA256SUMS"); do cp "$dist/$file" "$signed/"; done
"$source/scripts/sign" "$signed/$name.tar.gz" "$throwaway_fingerprint" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; fail "scripts/sign"; }
# verify FILE: FILE.asc is FILE's signature by the throwaway key, for gpgv and for sqv.
verify() {
    gpgv --keyring "$work/keyring.gpg" "$1.asc" "$1" 2>/dev/null &&
        [ "$(sqv --keyring "$throwaway_key" "$1.asc" "$1" 2>/dev/null)" = "$throwaway_fingerprint" ]
}
for file in SHA256SUMS "$name.tar.gz"; do verify "$signed/$file" || fail "the signature of $file does not verify"; done
# One byte changed in the middle of each file, then put back.
for file in SHA256SUMS $(awk '{ print $2 }' "$dist/SHA256SUMS"); do
    at=$(($(stat -c %s "$signed/$file") / 2))
    byte=$(od -An -tu1 -j "$at" -N 1 "$signed/$file" | tr -d ' ')
    # shellcheck disable=SC2059 # the format is the byte
    printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$signed/$file" bs=1 seek="$at" conv=notrunc 2>/dev/null
    cmp -s "$signed/$file" "$dist/$file" && fail "$file: no byte changed"
    if [ "$file" = SHA256SUMS ]; then
        ! verify "$signed/SHA256SUMS" || fail "SHA256SUMS changed, and its signature verifies"
    else
        ! (cd "$signed" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1) || fail "$file changed, and SHA256SUMS checks"
    fi
    [ "$file" != "$name.tar.gz" ] || ! verify "$signed/$file" || fail "$file changed, and its signature verifies"
    cp "$dist/$file" "$signed/$file"
done

# The second release.
clone=$work/elsewhere/a/second-clone
git clone -q --no-checkout "$source" "$clone"
git -C "$clone" checkout -q "$commit"
if ! (umask 077 && make -C "$clone" release) >"$work/log" 2>&1; then
    cat "$work/log" >&2
    fail "the second release"
else
    for file in SHA256SUMS $(awk '{ print $2 }' "$dist/SHA256SUMS"); do
        cmp "$dist/$file" "$clone/build/dist/$file" >&2 || fail "$file differs in the second release"
    done
    "$clone/scripts/sign" "$clone/build/dist/$name.tar.gz" "$throwaway_fingerprint" >"$work/log" 2>&1 ||
        { cat "$work/log" >&2; fail "scripts/sign in the second clone"; }
    for file in SHA256SUMS.asc "$name.tar.gz.asc"; do
        cmp "$signed/$file" "$clone/build/dist/$file" >&2 || fail "$file differs in the second release"
    done
fi

cat "$dist/SHA256SUMS"
[ "$failures" -eq 0 ] && echo "ok: the release is the commit's, signed it verifies, and a second release from another clone is the same bytes, signatures included"
