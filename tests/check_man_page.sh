#!/bin/sh
# The manual page: clean under the groff and mandoc linters, and its SYNOPSIS
# and OPTIONS name the same options, ranges and defaults as the help text, and
# the same version and home page as -V.
# Usage: check_man_page.sh GLYPHFALL MAN_PAGE NEED_PACKAGES
set -eu
program=$1
page=$2
need=$3
command -v groff >/dev/null || "$need" groff-base
command -v mandoc >/dev/null || "$need" mandoc

failures=0
# The lines of $1 joined by spaces, for messages and comparisons.
oneline() { printf '%s' "$1" | tr '\n' ' '; }
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# groff reports its warnings on standard error and still exits 0.
report=$(groff -man -ww -z "$page" 2>&1) || fail "groff exited $?"
[ -z "$report" ] || fail "groff: $report"
report=$(mandoc -T lint -W style "$page" 2>&1) || fail "mandoc exited $?"
[ -z "$report" ] || fail "mandoc: $report"

help=$("$program" -h)
help_letters=$(printf '%s\n' "$help" | sed -n 's/^\t-\(.\)\t.*/\1/p' | LC_ALL=C sort)
[ -n "$help_letters" ] || fail "no options found in the help text"

# The option that each .TP entry of OPTIONS describes.
page_letters=$(awk '
    /^\.SH/ { in_options = ($2 == "OPTIONS") }
    in_options && tagged && match($0, /^\.BI? \\-./) { print substr($0, RSTART + RLENGTH - 1, 1) }
    { tagged = ($0 == ".TP") }' "$page" | LC_ALL=C sort)
[ "$page_letters" = "$help_letters" ] ||
    fail "OPTIONS lists [$(oneline "$page_letters")], the help text [$(oneline "$help_letters")]"

synopsis_letters=$(awk '/^\.SH/ { in_synopsis = ($2 == "SYNOPSIS") } in_synopsis' "$page" |
    grep -o '\\-[A-Za-z]*' | cut -c3- | fold -w1 | LC_ALL=C sort)
[ "$synopsis_letters" = "$help_letters" ] ||
    fail "SYNOPSIS shows [$(oneline "$synopsis_letters")], the help text [$(oneline "$help_letters")]"

# "-d  drops ratio (1 .. 100, default: 10)" in the help text must read
# "1 to 100, default 10" in the entry for -d, whatever the line breaks.
ranges=$(printf '%s\n' "$help" |
    sed -n 's/^\t-\(.\)\t.*(\([0-9]*\) \.\. \([0-9]*\), default: \([0-9]*\)).*/\1 \2 \3 \4/p')
[ -n "$ranges" ] || fail "no ranges found in the help text"
printf '%s\n' "$ranges" | while read -r letter low high default; do
    entry=$(awk -v option=".BI \\\\-$letter" '
        /^\.(TP|SH)/ { if (inside) exit }
        index($0, option) == 1 { inside = 1 }
        inside' "$page" | tr '\n' ' ')
    case $entry in
        *"$low to $high, default $default"*) ;;
        *) echo "FAIL: the entry for -$letter does not say $low to $high, default $default" >&2; exit 1 ;;
    esac
done || failures=$((failures + 1))

version_line=$("$program" -V | sed -n 1p)
home_page=$("$program" -V | sed -n 2p)
grep -q "^\.TH GLYPHFALL 6 [0-9-]* \"$version_line\"" "$page" || fail ".TH does not name \"$version_line\""
grep -qF "$home_page" "$page" || fail "the home page $home_page is missing"

[ "$failures" -eq 0 ]
