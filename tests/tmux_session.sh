#!/bin/sh
# glyphfall in a real terminal emulator: tmux, on a private server, with an
# interactive shell in a pane. The program is typed at the prompt, the window
# is resized and Ctrl-C pressed as a person would; what the pane shows is the
# check. Needs no terminal and no standard input of its own.
# usage: tmux_session.sh GLYPHFALL   (KEEP=1 keeps the scratch directory)
set -eu

binary=$(realpath "$1")
pane=rain
. "$(dirname "$0")/tmux_server.sh"

cat > "$work/tmux.conf" <<'EOF'
set -g default-terminal tmux-256color
set -g history-limit 2000
set -g status off
EOF

fail() {
    echo "FAIL: $*" >&2
    echo "--- pane:" >&2
    t capture-pane -p -e -t "$pane" >&2 || true
    exit 1
}
say() { echo "ok: $*"; }

format() { t display-message -p -t "$pane" "$1"; }
screen() { t capture-pane -p -t "$pane" | sed 's/ *$//'; }
screen_sgr() { t capture-pane -p -e -t "$pane"; }
type_line() { t send-keys -t "$pane" -l "$1" && t send-keys -t "$pane" Enter; }

# Captures the pane between two moments 0.3 s apart at which the program's
# output, as tmux read it, is the same: a picture that holds still.
still_capture() {
    size=$(wc -c < "$work/raw")
    sleep 0.3
    screen > "$work/seen"
    sleep 0.3
    [ "$size" -eq "$(wc -c < "$work/raw")" ] && head -c "$size" "$work/raw" > "$work/still"
}

homes() { grep -o "$(printf '\033')\[H" "$work/raw" | wc -l; }
prompt_ready() { screen | grep -q '^\$$'; }
status_shown() { screen | grep -q '^status='; }
modes_shown() { t capture-pane -p -J -S - -t "$pane" | grep -q 'echoe'; }
pane_is() { [ "$(format '#{pane_width}x#{pane_height}')" = "$1" ]; }

# Reads a capture with SGR: fails on a glyph shown in a colour that is not one
# of the six the rain uses; prints how many rows show a glyph and how many
# glyphs each colour has. tmux writes only changes of attributes, carried
# from one line to the next.
colour_report() {
    awk '
    BEGIN {
        esc = sprintf("%c", 27); fg = "default"
        split("231 48 41 35 29 238", list, " "); for (i in list) rain[list[i]] = 1
    }
    {
        shown = 0
        line = $0
        while (length(line) > 0) {
            if (substr(line, 1, 2) == esc "[") {
                end = index(line, "m")
                n = split(substr(line, 3, end - 3), p, ";")
                for (i = 1; i <= n; i++) {
                    if (p[i] == "" || p[i] == 0 || p[i] == 39) fg = "default"
                    else if (p[i] == 38 && p[i + 1] == 5) { fg = p[i + 2]; i += 2 }
                }
                line = substr(line, end + 1)
                continue
            }
            c = substr(line, 1, 1); line = substr(line, 2)
            if (c == " ") continue
            if (!(fg in rain)) { printf "glyph %s in colour %s on row %d\n", c, fg, NR; bad = 1 }
            count[fg]++; shown = 1
        }
        rows += shown
    }
    END {
        printf "rows %d", rows
        for (i = 1; i <= 6; i++) printf " %s:%d", list[i], count[list[i]]
        printf "\n"
        exit bad
    }'
}

# Every row shows rain, and nothing but rain.
rain_fills_pane() {
    report=$(screen_sgr | colour_report) && [ "$(echo "$report" | cut -d' ' -f2)" -eq "$1" ]
}
check_colours() {
    report=$(screen_sgr | colour_report) || fail "pane shows a glyph outside the rain's colours: $report"
    echo "$report"
}

# The frames of the raw stream, one per line without their colour sequences:
# the records between cursor-home sequences after the set-up (which ends with
# one, so the first record after it is empty), up to the restore.
frames_of() {
    awk 'BEGIN { RS = "\033\\[H"; esc = sprintf("%c", 27) }
    index($0, esc "[?25l" esc "[1m") { on = 1; skip = 1; next }
    skip { skip = 0; next }
    on {
        text = $0
        if (sub(esc "\\[0m" esc "\\[\\?25h" esc "\\[2J$", "", text)) on = 0
        gsub(esc "\\[38;5;[0-9]+m", "", text)
        print text
    }' "$1"
}

# The pane after a frame has been drawn whole: its text cut into rows of $1
# characters, trailing blanks dropped, as capture-pane prints it.
rows_of() { fold -w "$1" | sed 's/ *$//'; }

t new-session -d -s "$pane" -x 40 -y 12 "env PS1='$ ' bash --norc --noprofile -i"
t pipe-pane -t "$pane" -o "cat >> $work/raw"
wait_for "the prompt" prompt_ready

# First run: echo on, a fast rain that fills the pane, then a resize.
type_line "$binary -r 7 -s 50 -d 100; echo status=\$?"
wait_for "rain down to the bottom row" rain_fills_pane 12
say "rain fills the 40x12 pane in its colours: $(check_colours)"
[ "$(format '#{cursor_flag}')" = 0 ] || fail "cursor shown while the rain runs"
history=$(format '#{history_size}')
sleep 1
check_colours > /dev/null
[ "$(format '#{history_size}')" = "$history" ] || fail "the pane scrolled while the rain ran"
say "no scrolling over a second of frames (history stays at $history lines), cursor hidden"

t resize-window -t "$pane" -x 30 -y 8
wait_for "the pane at 30x8" pane_is 30x8
wait_for "rain over the resized pane" rain_fills_pane 8
history=$(format '#{history_size}')
sleep 0.5
[ "$(format '#{history_size}')" = "$history" ] || fail "the pane scrolled after the resize"
say "after the resize the rain fills the 30x8 pane: $(check_colours)"

t send-keys -t "$pane" C-c
wait_for "the status line" status_shown
[ "$(screen | sed -n 1p)" = "status=0" ] || fail "exit status: $(screen | sed -n 1p)"
[ "$(screen | sed -n 2p)" = '$' ] || fail "the prompt does not follow the status line"
[ -z "$(screen | sed -n '3,$p' | tr -d ' \n')" ] || fail "the screen was not cleared"
[ "$(format '#{cursor_flag}')" = 1 ] || fail "cursor hidden after the end"
[ "$(screen_sgr | sed -n 1p)" = "status=0" ] || fail "text after the end has attributes: $(screen_sgr | sed -n 1p | od -c | head -3)"
say "Ctrl-C: status 0, screen cleared, cursor shown, new text in default attributes"

# Every frame of the first run covers the whole pane: 40x12 until the resize,
# 30x8 after it, and the first one after it already holds scattered drops.
frames_of "$work/raw" > "$work/frames"
sizes=$(awk '{ print length($0) }' "$work/frames" | uniq -c | awk '{ printf "%sx%s ", $1, $2 }')
echo "$sizes" | grep -Eqx '[0-9]+x480 [0-9]+x240 ' || fail "frame sizes, as count x cells: $sizes"
first_after=$(awk 'length($0) == 240 { print; exit }' "$work/frames")
lit_rows=$(printf '%s' "$first_after" | rows_of 30 | grep -c '[^ ]' || true)
[ "$lit_rows" -gt 1 ] || fail "first frame after the resize shows only $lit_rows rows with glyphs"
say "frames, as count x cells: $sizes; the first after the resize shows glyphs on $lit_rows rows"

# Second run: echo switched off before the start, one frame a second so the
# picture holds still between frames.
fresh_screen() {
    type_line "clear"
    wait_for "a clear screen" only_prompt
    t clear-history -t "$pane"
}
only_prompt() { [ "$(screen | tr -d ' \n')" = '$' ]; }
modes_now() { t capture-pane -p -J -S - -t "$pane" | tr ' ' '\n'; }

fresh_screen
t resize-window -t "$pane" -x 40 -y 12
wait_for "the pane at 40x12" pane_is 40x12
type_line "stty -echo"
fresh_screen
type_line "stty -a"
wait_for "the terminal modes" modes_shown
modes_now | grep -qx -- '-echo' || fail "stty -echo did not switch echo off"
fresh_screen
: > "$work/raw"
type_line "$binary -r 9 -s 1 -d 100; echo status=\$?"
first_frame() { [ "$(homes)" -ge 2 ]; }
wait_for "the first frame" first_frame
t resize-window -t "$pane" -x 36 -y 10
wait_for "the pane at 36x10" pane_is 36x10
last_frame_is() { [ "$(frames_of "$work/raw" | tail -n 1 | awk '{ print length($0) }')" = "$1" ]; }
wait_for "a frame of 36x10" last_frame_is 360
wait_for "a still picture" still_capture
frames_of "$work/still" | tail -n 1 | rows_of 36 > "$work/expected"
[ "$(wc -l < "$work/expected")" -ge 9 ] || fail "no whole frame to compare"
diff "$work/expected" "$work/seen" >&2 || fail "the pane differs from the frame drawn after the resize"
say "after a resize the pane shows the new 36x10 frame exactly, row for row"

t send-keys -t "$pane" C-c
wait_for "the status line" status_shown
[ "$(screen | sed -n 1p)" = "status=0" ] || fail "exit status: $(screen | sed -n 1p)"
[ "$(format '#{cursor_flag}')" = 1 ] || fail "cursor hidden after the end"
fresh_screen
type_line "stty -a"
wait_for "the terminal modes" modes_shown
modes_now | grep -qx 'echo' || fail "echo is off after the run: $(modes_now | grep echo | tr '\n' ' ')"
! modes_now | grep -qx -- '-echo' || fail "stty reports -echo after the run"
say "echo switched off before the start is on after it; status 0, cursor shown"
