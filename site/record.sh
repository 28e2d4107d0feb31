#!/bin/sh
# Records the rain that the home page replays: the program's own bytes, in a
# pseudo-terminal of a fixed size with a fixed seed, cut to a fixed run of
# frames. Seed and size fix the output, so the recording is the same on every
# run, whatever the speed or the machine's load.
#
# The output is the program's set-up bytes, then frames FIRST to LAST (each a
# whole screen, starting with cursor home), exactly as written.
#
# Usage: site/record.sh GLYPHFALL OUTPUT [ROWS COLS SEED FIRST LAST]
set -eu
program=$1
output=$2
rows=${3:-24}
cols=${4:-80}
seed=${5:-20241}
first=${6:-61}  # by then the rain covers the screen
last=${7:-160}  # ten seconds at the default speed

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The frames do not depend on the speed, so they are recorded at 100 a second
# and the program is stopped once enough have been written. The shell's pid is
# the program's, after exec. The output file is there before the polling starts.
: >"$work/raw"
script -q -c "stty rows $rows cols $cols; echo \$\$ >'$work/pid'; exec '$program' -r $seed -s 100" /dev/null \
    </dev/null >"$work/raw" &
recorder=$!

homes() { perl -0777 -ne 'print scalar(() = /\e\[H/g)' "$work/raw"; }
# The set-up ends with a cursor home of its own: frame N is the (N + 1)-th
# piece that starts with one, and it is whole once the next one has begun.
tries=0
while [ "$(homes)" -lt $((last + 2)) ]; do
    tries=$((tries + 1))
    if [ $tries -gt 600 ] || ! kill -0 $recorder 2>/dev/null; then
        echo "record.sh: $program wrote $(homes) screens in time, not $((last + 2))" >&2
        [ -s "$work/pid" ] && kill "$(cat "$work/pid")" 2>/dev/null
        exit 1
    fi
    sleep 0.1
done
kill -TERM "$(cat "$work/pid")"
wait $recorder

perl -0777 -ne '
    my @parts = split /(?=\e\[H)/;
    print @parts[0, 1], @parts['"$first"' + 1 .. '"$last"' + 1];' "$work/raw" >"$output"
