#!/bin/sh
# Makes docs/screenshot.png: glyphfall in a real xterm (under Xvfb), captured
# after a fixed number of frames of a fixed seed, so the picture is the same
# on every run. Not part of `make test`.
#
# The program runs in a pseudo-terminal of the wanted size; its output up to
# frame $frames is kept and replayed into the xterm, which is then captured.
#
# Usage: docs/make-screenshot.sh [GLYPHFALL]   (default: builds build/release)
set -eu
cd "$(dirname "$0")/.."

cols=100
rows=30
seed=20241
frames=90
output=docs/screenshot.png

scripts/need-packages xvfb xauth xterm imagemagick fonts-dejavu-core
if [ $# -gt 0 ]; then
    program=$(realpath "$1")
else
    make -s build >/dev/null
    program=$PWD/build/release/glyphfall
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# At speed 100 the frames come every 10 ms: two seconds are far more than
# enough to get past the wanted one.
script -q -c "stty rows $rows cols $cols; timeout -s TERM 3 '$program' -r $seed -s 100" /dev/null \
    </dev/null >"$work/raw"
# Keep the set-up and the first $frames frames: everything before the
# ($frames + 2)-th cursor-home (the set-up ends with one of its own).
perl -0777 -ne '
    my @parts = split /(?=\e\[H)/;
    die "only " . (@parts - 2) . " frames\n" if @parts < '"$frames"' + 3;
    print @parts[0 .. '"$frames"' + 1];' "$work/raw" >"$work/frames"

cat >"$work/show" <<SHOW
#!/bin/sh
cat '$work/frames'
touch '$work/shown'
exec sleep 60
SHOW
chmod +x "$work/show"

cat >"$work/capture" <<CAPTURE
#!/bin/sh
set -eu
xterm -T glyphfall-screenshot -geometry ${cols}x${rows}+0+0 -b 0 +sb -bg black -fg grey \
    -fa 'DejaVu Sans Mono' -fs 10 -e '$work/show' &
xterm=\$!
for _ in \$(seq 100); do [ -e '$work/shown' ] && break; sleep 0.1; done
sleep 1  # let xterm paint what it has read
/usr/bin/import -window glyphfall-screenshot '$work/shot.png'
kill \$xterm
CAPTURE
chmod +x "$work/capture"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/capture"

# A small palette keeps the file small; the picture has few colours anyway.
/usr/bin/convert "$work/shot.png" -strip -colors 64 "PNG8:$output"
echo "$output: $(/usr/bin/identify -format '%wx%h' "$output"), $(wc -c <"$output") bytes"
