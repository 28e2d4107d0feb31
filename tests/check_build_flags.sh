#!/bin/sh
# The flags a Debian build hands over reach the compiler and the linker:
# every word of dpkg-buildflags' CPPFLAGS (which CMake does not read by
# itself) and CXXFLAGS on the compile line, of its LDFLAGS on the link line;
# its _FORTIFY_SOURCE level kept, not redefined; and the program builds with
# them, warnings as errors.
# Usage: check_build_flags.sh SOURCE_DIR
set -eu
source=$(realpath "$1")
command -v dpkg-buildflags >/dev/null || "$source/scripts/need-packages" dpkg-dev
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
echo "CPPFLAGS=$CPPFLAGS"
echo "CXXFLAGS=$CXXFLAGS"
echo "LDFLAGS=$LDFLAGS"
if ! { cmake -S "$source" -B "$work" -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHFALL_TESTS=OFF \
    -DGLYPHFALL_WERROR=ON && env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL cmake --build "$work" --target glyphfall; } \
    >"$work/log" 2>&1; then
    cat "$work/log" >&2
    exit 1
fi

compile=$(grep -o '"command": "[^"]*src/main.cpp"' "$work/compile_commands.json")
link=$(cat "$work/CMakeFiles/glyphfall.dir/link.txt")
for flag in $CPPFLAGS $CXXFLAGS; do
    case " $compile " in *" $flag "*) ;; *) fail "$flag is not on the compile line: $compile" ;; esac
done
for flag in $LDFLAGS; do
    case " $link " in *" $flag "*) ;; *) fail "$flag is not on the link line: $link" ;; esac
done
fortify=$(printf '%s\n' "$compile" | grep -o '[-][DU] *_FORTIFY_SOURCE[=0-9]*' | tr '\n' ' ')
[ "$fortify" = "-D_FORTIFY_SOURCE=2 " ] || fail "_FORTIFY_SOURCE on the compile line: $fortify"

[ "$failures" -eq 0 ]
