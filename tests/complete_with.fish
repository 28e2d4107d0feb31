# Completes each command line given as fish does on Tab (complete -C), with
# the completion loaded the way fish loads it: by its file name, from a
# directory on fish_complete_path, for a glyphfall found on PATH. Prints the
# candidates offered, "option<TAB>description" a line, and "#" after each
# command line.
# Usage: fish --no-config complete_with.fish COMPLETION_FILE GLYPHFALL LINE...
set -g fish_complete_path (path dirname -- (path resolve -- $argv[1]))
set -gx PATH (path dirname -- $argv[2]) $PATH
for line in $argv[3..]
    complete -C"$line"
    echo '#'
end
