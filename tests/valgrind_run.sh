#!/bin/sh
# A short run under valgrind's memcheck in a terminal (a tmux pane on a private
# server): frames, two window-size changes, then Ctrl-C. Any memory error or
# leak fails it, and so does an exit status other than 0.
# usage: valgrind_run.sh GLYPHFALL
set -eu

binary=$(realpath "$1")
work=$(mktemp -d)
socket=$work/socket
export TERM=xterm-256color
unset TMUX

t() { tmux -S "$socket" -f /dev/null "$@" </dev/null; }
cleanup() {
    t kill-server 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/memcheck" ] && cat "$work/memcheck" >&2
    exit 1
}

# Runs the check given as arguments every 0.1 s until it holds; fails after
# 60 s, or at once when the run has ended without it holding.
wait_for() {
    what=$1
    shift
    tries=0
    until "$@"; do
        if ended && ! "$@"; then
            fail "the run ended, exit status $(cat "$work/status"), before: $what"
        fi
        tries=$((tries + 1))
        [ "$tries" -lt 600 ] || fail "timed out waiting for: $what"
        sleep 0.1
    done
}

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
