# Sourced by the tests that drive tmux: a private server whose socket lives in
# a scratch folder, $work, killed and removed when the test ends (KEEP=1 keeps
# the folder); `t` runs tmux on it, with the configuration $work/tmux.conf
# when the test writes one. Each test defines `fail`.

work=$(mktemp -d)
socket=$work/socket
export TERM=xterm-256color  # the client side; tmux gives each pane its own
unset TMUX

t() {
    conf=/dev/null
    [ -f "$work/tmux.conf" ] && conf=$work/tmux.conf
    tmux -S "$socket" -f "$conf" "$@" </dev/null
}
cleanup() {
    t kill-server 2>/dev/null || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# wait_for WHAT CHECK [ARG...]: runs the check every 0.05 s until it holds.
# Fails after $wait_seconds (20 unless set), or at once if the test's
# `given_up` holds while the check still does not.
wait_for() {
    what=$1
    shift
    tries=0
    until "$@"; do
        if command -v given_up >/dev/null && given_up && ! "$@"; then
            fail "gave up waiting for: $what"
        fi
        tries=$((tries + 1))
        [ "$tries" -lt $((${wait_seconds:-20} * 20)) ] || fail "timed out waiting for: $what"
        sleep 0.05
    done
}
