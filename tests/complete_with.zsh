# Completes each command line given, as zsh's line editor does on Tab, in an
# interactive zsh on a pseudo-terminal of its own (zpty). Prints the
# candidates offered, "option<TAB>description" a line, and "#" after each
# command line. Needs no terminal and no standard input.
# Usage: zsh -f complete_with.zsh COMPLETION_FILE LINE...
zmodload zsh/zpty || exit 1
completion=${1:A}
shift
work=$(mktemp -d) || exit 1
trap 'zpty -d shell 2>/dev/null; rm -rf $work' EXIT

# compadd, wrapped, writes down the matches a completion function adds, with
# the descriptions it gives them; the calls that only filter pass through.
# The widget on Tab completes, marks the end, and empties the line. Nothing
# is listed, so zsh asks nothing; the width keeps descriptions whole.
cat > $work/setup.zsh <<SETUP
fpath=(${(q)completion:h} \$fpath)
autoload -U compinit
compinit -u -D
unsetopt autolist
PS1='READY> '
COLUMNS=200
compadd() {
    if ((\${@[(I)-[OAD]]})); then
        builtin compadd "\$@"
        return
    fi
    local -a hits descriptions
    local at=\${@[(i)-d]}
    ((at < \$#)) && descriptions=("\${(@P)\${@[at+1]}}")
    builtin compadd -O hits -D descriptions "\$@"
    local k
    for ((k = 1; k <= \$#hits; k++)); do
        print -r -- "\$hits[k]	\${descriptions[k]#* -- }" >> ${(q)work}/out
    done
    builtin compadd "\$@"
}
complete-and-mark() {
    zle complete-word
    print -r -- '#' >> ${(q)work}/out
    BUFFER=
}
zle -N complete-and-mark
bindkey '^I' complete-and-mark
SETUP
: > $work/out

seen=
# Reads the shell's output until the condition $1 holds; fails after 20 s.
wait_for() {
    local deadline=$((SECONDS + 20)) chunk
    until eval $1; do
        ((SECONDS < deadline)) || { print -u2 "zsh: timed out waiting for $1"; return 1; }
        if zpty -rt shell chunk; then seen+=$chunk; else sleep 0.05; fi
    done
}
marks() { grep -c '^#$' $work/out; }

zpty shell zsh -f -i || exit 1
zpty -w shell "source ${(q)work}/setup.zsh"
wait_for '[[ $seen == *"READY> "* ]]' || exit 1
lines=$#
for line in "$@"; do
    zpty -w -n shell "$line"$'\t'
done
wait_for '(($(marks) == lines))' || exit 1
cat $work/out
