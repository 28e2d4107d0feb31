#!/bin/bash
# A completion driven by its own shell over the cases in completion_cases: the
# options offered, and their descriptions against the help text. bash is
# driven as it drives a completion function; zsh and fish by
# complete_with.zsh and complete_with.fish, all cases in one run of the shell.
# Usage: check_completion.sh bash|zsh|fish COMPLETION_FILE GLYPHFALL
set -u
shell=$1
completion=$(realpath "$2")
program=$(realpath "$3")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Files that a fallback to file names would offer.
touch "$work/drops" "$work/-drops"
cd "$work" || exit 1

failures=0
# The lines of $1 joined by spaces, for messages and comparisons.
oneline() { printf '%s' "$1" | tr '\n' ' '; }
fail() {
    echo "FAIL: $shell: $*" >&2
    ((failures++))
}

# What glyphfall -h lists, as "-b -d -e ..." in the help text's order.
all=$("$program" -h | sed -n 's/^\t\(-.\)\t.*/\1/p' | tr '\n' ' ')
all=${all% }
[[ -n $all ]] || fail "no options found in the help text"

# Each case as words, as the command line typed up to the cursor, and the
# options expected.
quoted_cases=() lines=() expected=()
while IFS='|' read -r quoted want; do
    [[ -z $quoted || $quoted == '#'* ]] && continue
    eval "words=($quoted)"
    quoted_cases+=("$quoted")
    lines+=("$(printf '%q ' "${words[@]:0:${#words[@]}-1}")${words[-1]}")
    expected+=("${want//ALL/$all}")
done <"$here/completion_cases"

# complete_words COMP_TYPE WORD... : runs the bash completion with the last
# word as the one under the cursor and leaves the reply, one candidate a line,
# in $reply.
complete_words() {
    COMP_TYPE=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=(unset)
    _glyphfall
    reply=$(printf '%s\n' "${COMPREPLY[@]}")
    reply=${reply%$'\n'}
}

# The offers of the bash completion for each case, printed as
# complete_with.zsh and complete_with.fish print them. COMP_TYPE 9 is a first
# Tab, 37 menu completion: both insert bare options. 63 is the listing on a
# second Tab, where each option shows its description.
complete_bash() {
    # shellcheck source=/dev/null
    source "$completion" || exit 1
    # Without -o default or -o bashdefault, an empty reply means no file names.
    registered=$(complete -p glyphfall 2>&1)
    [[ $registered == "complete -F _glyphfall glyphfall" ]] || fail "registered as: $registered"
    local quoted line words inserted
    for quoted in "${quoted_cases[@]}"; do
        eval "words=($quoted)"
        complete_words 9 "${words[@]}"
        inserted=$reply
        [[ $inserted != *' '* ]] || fail "($quoted) inserts descriptions: [$(oneline "$inserted")]"
        complete_words 37 "${words[@]}"
        [[ $reply == "$inserted" ]] || fail "($quoted) menu completion: [$(oneline "$reply")], first Tab: [$(oneline "$inserted")]"
        complete_words 63 "${words[@]}"
        [[ $(cut -d' ' -f1 <<<"$reply") == "$inserted" ]] ||
            fail "($quoted) listed: [$(oneline "$reply")], inserted: [$(oneline "$inserted")]"
        [[ -z $reply ]] || while IFS= read -r line; do
            case $line in
                *'  '*) printf '%s\t%s\n' "${line%%  *}" "${line#*  }" ;;
                *) printf '%s\t\n' "$line" ;;
            esac
        done <<<"$reply"
        echo '#'
    done
}

# zsh and fish read no start-up files and write nothing to the real home.
shell_env=(env HOME="$work" XDG_CONFIG_HOME="$work" XDG_DATA_HOME="$work" XDG_CACHE_HOME="$work")
case $shell in
    bash) complete_bash >"$work/offered" ;;
    zsh) "${shell_env[@]}" zsh -f "$here/complete_with.zsh" "$completion" "${lines[@]}" >"$work/offered" ;;
    fish) "${shell_env[@]}" fish --no-config "$here/complete_with.fish" "$completion" "$program" "${lines[@]}" \
        >"$work/offered" ;;
    *) fail "no such shell" ;;
esac </dev/null || fail "the shell failed"

# The ranges and defaults of the help text, as "-d 1 100 10" a line.
ranges=$("$program" -h | sed -n 's/^\t\(-.\)\t.*(\([0-9]*\) \.\. \([0-9]*\), default: \([0-9]*\)).*/\1 \2 \3 \4/p')
[[ -n $ranges ]] || fail "no ranges found in the help text"

# check_case N OPTION<TAB>DESCRIPTION... : the candidates offered for case N.
# Several are listed each with its description; numbers carry the range and
# default of the help text.
check_case() {
    local n=$1 candidate option description names=()
    shift
    for candidate in "$@"; do
        option=${candidate%%$'\t'*}
        description=${candidate:${#option}+1}
        names+=("$option")
        if [[ -z $description ]]; then
            (($# == 1)) || fail "[${lines[n]}]: $option is listed without a description"
            continue
        fi
        [[ $description =~ ^[a-z]+ ]] || fail "the description of $option: [$description]"
        while read -r name low high default; do
            [[ $option != "$name" || $description == *"($low..$high, default $default)"* ]] ||
                fail "the description of $option lacks ($low..$high, default $default): [$description]"
        done <<<"$ranges"
    done
    [[ "${names[*]}" == "${expected[n]}" ]] || fail "[${lines[n]}]: offered [${names[*]}], want [${expected[n]}]"
}

# The offers, "option<TAB>description" a line, "#" after each case.
n=0
block=()
while IFS= read -r line; do
    if [[ $line != '#' ]]; then
        block+=("$line")
        continue
    fi
    ((n < ${#lines[@]})) || { fail "more results than cases"; break; }
    check_case "$n" "${block[@]}"
    block=()
    ((n++))
done <"$work/offered"
((n == ${#lines[@]})) || fail "results for $n of ${#lines[@]} cases"

((failures == 0))
