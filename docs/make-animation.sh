#!/bin/sh
# Makes docs/rain.gif: glyphfall in a real xterm (under Xvfb), frame after
# frame of a fixed seed, shown as the program shows them at its default speed
# (10 frames a second), so the picture is the same on every run. Not part of
# `make test`.
#
# The program runs in a pseudo-terminal of the wanted size and its output is
# cut into frames (each a whole screen, starting with cursor home). The xterm
# shows the set-up, then one frame at a time, and is captured after each.
#
# Usage: docs/make-animation.sh [GLYPHFALL]   (default: builds build/release)
set -eu
cd "$(dirname "$0")/.."

cols=80
rows=24
seed=20241
first=61  # by then the rain covers the screen
count=40  # four seconds
output=docs/rain.gif

scripts/need-packages xvfb xauth xterm imagemagick gifsicle fonts-dejavu-core
if [ $# -gt 0 ]; then
    program=$(realpath "$1")
else
    make -s build >/dev/null
    program=$PWD/build/release/glyphfall
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The frames do not depend on the speed, so they are recorded at 100 a second:
# three seconds are far more than enough.
script -q -c "stty rows $rows cols $cols; timeout -s TERM 3 '$program' -r $seed -s 100" /dev/null \
    </dev/null >"$work/raw"
# The set-up ends with a cursor home of its own; frame N is the (N + 1)-th
# piece that starts with one.
last=$((first + count - 1))
perl -0777 -ne '
    my @parts = split /(?=\e\[H)/;
    die "only " . (@parts - 2) . " frames\n" if @parts < '"$last"' + 2;
    open my $out, ">", "'"$work"'/setup" or die; print $out @parts[0, 1]; close $out;
    for my $n ('"$first"' .. '"$last"') {
        open $out, ">", "'"$work"'/frame.$n" or die; print $out $parts[$n + 1]; close $out;
    }' "$work/raw"

# Shown in the xterm: a frame when the capture asks for it, then a mark.
cat >"$work/show" <<SHOW
#!/bin/sh
cat '$work/setup'
for n in \$(seq $first $last); do
    while [ ! -e '$work/ask.'\$n ]; do sleep 0.05; done
    cat '$work/frame.'\$n
    touch '$work/shown.'\$n
done
exec sleep 60
SHOW
chmod +x "$work/show"

cat >"$work/capture" <<CAPTURE
#!/bin/sh
set -eu
xterm -T glyphfall-rain -geometry ${cols}x${rows}+0+0 -b 0 +sb -bg black -fg grey \
    -fa 'DejaVu Sans Mono' -fs 10 -e '$work/show' &
xterm=\$!
for n in \$(seq $first $last); do
    touch '$work/ask.'\$n
    tries=0
    while [ ! -e '$work/shown.'\$n ]; do
        tries=\$((tries + 1))
        [ \$tries -lt 200 ] || { echo "frame \$n was not shown" >&2; exit 1; }
        sleep 0.05
    done
    sleep 0.5  # let xterm paint what it has read
    /usr/bin/import -window glyphfall-rain "$work/\$(printf 'capture.%03d.png' \$n)"
done
kill \$xterm
CAPTURE
chmod +x "$work/capture"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/capture"

# One palette for all frames keeps the file small; the rain has few colours.
/usr/bin/convert -delay 10 -loop 0 "$work"/capture.*.png +dither -colors 32 "$work/rain.gif"
gifsicle -O3 "$work/rain.gif" -o "$output"
echo "$output: $(/usr/bin/identify -format '%wx%h ' "$output" | cut -d' ' -f1), $count frames," \
    "$(wc -c <"$output") bytes"
