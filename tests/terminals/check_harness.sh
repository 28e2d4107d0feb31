#!/bin/sh
# The harness must see a terminal left wrong: the program run by a wrapper
# that, once it has ended, hides the cursor and turns echo off again. In
# xterm, the restore checks must fail and the others pass.
# usage: check_harness.sh GLYPHFALL
set -u
here=$(dirname "$(realpath "$0")")
if ! command -v xterm >/dev/null; then echo "skipped: harness check: no xterm"; exit 0; fi
scratch=$(mktemp -d /tmp/glyphfall-harness.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cat > "$scratch/leaves-it-dirty" <<WRAPPER
#!/bin/sh
trap : INT QUIT
"$(realpath "$1")" "\$@"
printf '\033[?25l'
stty -echo
WRAPPER
chmod +x "$scratch/leaves-it-dirty"

"$here/run" "$scratch/leaves-it-dirty" xterm > "$scratch/out" 2>&1
status=$?
fail() { echo "FAIL: harness check: $*"; sed 's/^/  /' "$scratch/out"; exit 1; }
[ "$status" -ne 0 ] || fail "passed a program that leaves the terminal wrong"
while read -r line; do
    grep -q "^xterm [^:]*: $line" "$scratch/out" || fail "no line '$line'"
done <<EXPECTED
restores the screen: FAIL: cursor not shown
stty -a as before: FAIL: .*> .* -echo 
fills 640x400: ok
colours: ok
ctrl-c: ok
EXPECTED
echo "ok: harness check: a cursor left hidden and echo left off fail, in xterm"
