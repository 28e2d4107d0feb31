#!/bin/sh
# The README's run command ended with Ctrl-C, as its reader does it: `make run`
# typed at a shell prompt in a tmux pane (a private server), the rain, Ctrl-C,
# ROUNDS times. Every round must end with a screen that holds nothing but a
# prompt showing status 0 or 130: no message from make; and the cursor shown,
# echo on (the next command line shows as it is typed). Then
# Ctrl-Z and fg once, and a few rounds the way a script does it: `make run`
# under script(1), SIGINT sent to the terminal's foreground process group.
# The program under test stands in for the build: `make -o build` keeps make
# from building, BUILD points at a folder that holds it.
# usage: check_make_run.sh SOURCE_DIR GLYPHFALL [ROUNDS]
set -eu

source=$(realpath "$1")
binary=$(realpath "$2")
rounds=${3:-20}
pane=run
. "$(dirname "$0")/tmux_server.sh"
mkdir -p "$work/build/release"
ln -s "$binary" "$work/build/release/glyphfall"
run_command="make -o build run BUILD=$work/build"
# The make of `make test` must not pass its flags on to this one.
unset MAKEFLAGS MFLAGS MAKELEVEL

fail() {
    echo "FAIL: $*" >&2
    echo "--- pane:" >&2
    t capture-pane -p -t "$pane" >&2 || true
    # A run under script that never ended would outlive the test; its
    # terminal gone, the program gets the hang-up.
    [ -z "${script:-}" ] || kill -KILL "$script" 2>/dev/null || true
    exit 1
}

# The pane's lines, wrapped ones joined, without trailing blanks, from the
# first line with text to the last.
screen() {
    t capture-pane -p -J -t "$pane" | sed 's/ *$//' | awk '
        { line[NR] = $0 }
        NF { last = NR; if (!first) first = NR }
        END { for (i = first; i <= last; i++) print line[i] }'
}
cursor_is() { [ "$(t display-message -p -t "$pane" '#{cursor_flag}')" = "$1" ]; }
screen_is() { [ "$(screen)" = "$1" ]; }
# The program forgets a Ctrl-C that comes before it has set up the terminal
# and entered its frame loop, and a fast hand on a busy machine can get there
# first: the cursor hides before the loop begins. So Ctrl-C waits for the rain
# itself, which only the loop draws: text on a cleared screen.
rain_shown() {
    cursor_is 0 || return 1
    shown=$(screen)
    [ -n "$shown" ] && ! printf '%s\n' "$shown" | grep -q 'run BUILD='
}
# The prompt shows the last status: a make that dies of the SIGINT makes bash
# drop the rest of the command line, so nothing typed after it could.
prompt_back() { screen | tail -n 1 | grep -qx '[0-9]* \$' && ! screen | head -n 1 | grep -q 'run BUILD='; }

t new-session -d -s "$pane" -x 100 -y 15 -c "$source" "env PS1='\$? \$ ' bash --norc --noprofile -i"
wait_for "the prompt" screen_is '0 $'

round=1
while [ "$round" -le "$rounds" ]; do
    t send-keys -t "$pane" -l "clear" && t send-keys -t "$pane" Enter
    wait_for "a clear screen" screen_is '0 $'
    t send-keys -t "$pane" -l "$run_command"
    wait_for "the command line, shown as it is typed" screen_is "0 \$ $run_command"
    t send-keys -t "$pane" Enter
    wait_for "the rain" rain_shown
    # Ctrl-C at different moments of the 100 ms between frames.
    sleep "0.0$((round % 5 * 2))"
    t send-keys -t "$pane" C-c
    wait_for "the prompt after the run" prompt_back
    case $(screen) in
        "0 \$" | "130 \$") ;;
        *) fail "round $round: the screen after Ctrl-C holds more than a prompt with status 0 or 130" ;;
    esac
    cursor_is 1 || fail "round $round: the cursor is hidden after the run"
    round=$((round + 1))
done
echo "ok: $rounds rounds of make run and Ctrl-C in tmux: status 0 or 130, nothing else on the screen, cursor shown, echo on"

# Ctrl-Z stops make with the program, fg resumes both, Ctrl-C still ends them cleanly.
stopped() { screen | grep -q 'Stopped.*run BUILD='; }
t send-keys -t "$pane" -l "clear" && t send-keys -t "$pane" Enter
wait_for "a clear screen" screen_is '0 $'
t send-keys -t "$pane" -l "$run_command" && t send-keys -t "$pane" Enter
wait_for "the rain" rain_shown
t send-keys -t "$pane" C-z
wait_for "the job stopped" stopped
t send-keys -t "$pane" -l "fg" && t send-keys -t "$pane" Enter
wait_for "the rain again, over the shell's lines" eval '! stopped'
t send-keys -t "$pane" C-c
wait_for "the prompt after the run" prompt_back
[ "$(screen)" = '0 $' ] || fail "after Ctrl-Z, fg and Ctrl-C the screen holds more than a prompt with status 0"
echo "ok: Ctrl-Z stops make run, fg resumes it, Ctrl-C ends it with status 0"

# The way a script stops it: script(1) gives the command a terminal and the
# SIGINT goes to that terminal's foreground process group. Read from /proc:
# a process's state and the terminal's foreground group (fields 3 and 8 of
# its stat), its children.
stat_field() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f"$(($2 - 2))"; }
gone() { [ ! -e "/proc/$1" ] || [ "$(stat_field "$1" 3)" = Z ]; }
find_child() { child=$(cat "/proc/$script/task/$script/children" 2>/dev/null | cut -d' ' -f1) && [ -n "$child" ]; }
program_in_front() {
    group=$(stat_field "$child" 8)
    [ -n "$group" ] && [ "$(cat "/proc/$group/comm" 2>/dev/null)" = glyphfall ]
}
# As above, the SIGINT waits for the loop: a frame after the set-up, which is
# the second cursor-home in the output.
frame_drawn() { [ "$(grep -ao "$(printf '\033')\[H" "$work/out" | wc -l)" -ge 2 ]; }
round=1
while [ "$round" -le 3 ]; do
    (cd "$source" && exec script -qec "stty rows 24 cols 80 && $run_command" /dev/null) </dev/null >"$work/out" 2>&1 &
    script=$!
    wait_for "the command under script" find_child
    wait_for "glyphfall as the foreground job" program_in_front
    wait_for "a frame" frame_drawn
    kill -INT "-$group"
    wait_for "the end of script" gone "$script"
    status=0
    wait "$script" || status=$?
    case $status in
        0 | 130) ;;
        *) cat "$work/out" >&2; fail "under script: exit status $status" ;;
    esac
    gone "$group" || fail "under script: glyphfall still runs"
    ! grep -a 'make:' "$work/out" >&2 || fail "under script: a message from make"
    round=$((round + 1))
done
echo "ok: 3 rounds of make run under script, SIGINT to the foreground group: status 0 or 130, no message"
