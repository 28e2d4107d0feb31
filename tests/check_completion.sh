#!/bin/bash
# The bash completion, driven as bash drives it: COMP_WORDS and COMP_CWORD set,
# the function called, COMPREPLY checked.
# Usage: check_completion.sh COMPLETION_FILE GLYPHFALL
set -u
# shellcheck source=/dev/null
source "$1" || exit 1
program=$2

failures=0
# The lines of $1 joined by spaces, for messages and comparisons.
oneline() { printf '%s' "$1" | tr '\n' ' '; }
fail() {
    echo "FAIL: $*" >&2
    ((failures++))
}

# What glyphfall -h lists, as "-b -d -e ..." in the help text's order.
all=$("$program" -h | sed -n 's/^\t\(-.\)\t.*/\1/p' | tr '\n' ' ')
all=${all% }
[[ -n $all ]] || fail "no options found in the help text"

# complete COMP_TYPE WORD... : runs the completion with the last word as the
# one under the cursor and leaves the reply, one candidate a line, in $reply.
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

# Without -o default or -o bashdefault, an empty reply means no file names.
registered=$(complete -p glyphfall 2>&1)
[[ $registered == "complete -F _glyphfall glyphfall" ]] || fail "registered as: $registered"

# COMP_TYPE 9 is a first Tab, 37 menu completion, 63 the listing on a second Tab.
while IFS='|' read -r type words expected; do
    eval "words=($words)"
    complete_words "$type" "${words[@]}"
    expected=${expected//ALL/$all}
    [[ $(oneline "$reply") == "$expected" ]] || fail "type $type, words (${words[*]}): got [$(oneline "$reply")], want [$expected]"
done <<'CASES'
9|glyphfall ""|ALL
9|glyphfall -|ALL
37|glyphfall -|ALL
63|glyphfall -V|-V
9|glyphfall -d|-d
63|glyphfall -x|
9|glyphfall -d ""|
9|glyphfall -e ""|
9|glyphfall -r ""|
9|glyphfall -s ""|
9|glyphfall -s 5|
9|glyphfall -bs ""|
9|glyphfall -s 5 -b ""|ALL
9|glyphfall -s5 -|ALL
9|glyphfall -d -b -|ALL
9|glyphfall -r -5 -|ALL
9|glyphfall word -|
9|glyphfall -- -|
9|glyphfall - -|
9|glyphfall "" -|
9|glyphfall -b word -s|
9|glyphfall /tmp/|
CASES

# The listing shows each option with its description; numbers carry the
# range and default of the help text.
complete_words 63 glyphfall -
[[ $(cut -c1-2 <<<"$reply" | tr '\n' ' ') == "$all " ]] || fail "listed options: [$(oneline "$reply")]"
while IFS= read -r line; do
    [[ $line =~ ^-.\ \ [a-z]+ ]] || fail "no description: [$line]"
done <<<"$reply"
while read -r option low high default; do
    grep -q -- "^$option .*($low\.\.$high, default $default)" <<<"$reply" ||
        fail "the description of $option lacks ($low..$high, default $default)"
done < <("$program" -h | sed -n 's/^\t\(-.\)\t.*(\([0-9]*\) \.\. \([0-9]*\), default: \([0-9]*\)).*/\1 \2 \3 \4/p')

((failures == 0))
