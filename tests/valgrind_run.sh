#!/bin/sh
# A short run under valgrind's memcheck in a terminal (a tmux pane on a private
# server): frames, two window-size changes, then Ctrl-C. Any memory error or
# leak fails it, and so does an exit status other than 0.
# usage: valgrind_run.sh GLYPHFALL
set -eu

binary=$(realpath "$1")
. "$(dirname "$0")/tmux_server.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -s "$work/status" ] && echo "the run ended, exit status $(cat "$work/status")" >&2
    [ -f "$work/memcheck" ] && cat "$work/memcheck" >&2
    exit 1
}

# valgrind is slow to start; a run that has ended is not waited for.
wait_seconds=60
given_up() { ended; }

homes() { grep -o "$(printf '\033')\[H" "$work/raw" 2>/dev/null | wc -l; }
frames_past() { [ "$(homes)" -ge "$1" ]; }
ended() { [ -s "$work/status" ]; }

t new-session -d -s memcheck -x 80 -y 24 \
    "valgrind --error-exitcode=99 --leak-check=full --log-file=$work/memcheck $binary -r 5 -s 100 -d 50; \
     echo \$? > $work/status"
t pipe-pane -t memcheck -o "cat >> $work/raw"

wait_for "frames at 80x24" frames_past 20
t resize-window -t memcheck -x 50 -y 10
wait_for "frames at 50x10" frames_past 40
t resize-window -t memcheck -x 120 -y 40
wait_for "frames at 120x40" frames_past 60
t send-keys -t memcheck C-c
wait_for "the end of the run" ended

[ "$(cat "$work/status")" = 0 ] || fail "exit status $(cat "$work/status")"
grep -q 'ERROR SUMMARY: 0 errors' "$work/memcheck" || fail "memcheck found errors"
grep -q 'All heap blocks were freed\|definitely lost: 0 bytes' "$work/memcheck" || fail "memcheck found leaks"
echo "ok: $(homes) cursor-home sequences drawn at three sizes, exit status 0"
echo "ok: $(grep -o 'in use at exit.*' "$work/memcheck")"
echo "ok: $(grep -o 'ERROR SUMMARY.*' "$work/memcheck")"
