# fish completion for glyphfall
#
# Completes the options, each with what it does, its range and its default,
# also on an empty word. Nothing is offered for the number after -d, -e, -r or
# -s, never a file name, and nothing after the word that ends the options:
# glyphfall reads options only up to the first word that is not one, or up to
# "--".

# Whether the word being completed is still read as an option.
function __glyphfall_reading_options
    set -l words (commandline -opc)
    set -e words[1]
    while set -q words[1]
        if test "$words[1]" = --; or not string match -q -- '-?*' $words[1]
            return 1
        end
        # The first of d, e, r, s in a word takes the rest of it as its
        # number, or the next word when nothing is left.
        if string match -rq -- '^-[^ders]*[ders]$' $words[1]
            set -e words[1]
            set -q words[1]; or return 1 # the word being completed is a number
        end
        set -e words[1]
    end
    # fish would also offer an option whose name merely contains the word.
    string match -q -- '-*' (commandline -ct); or test -z (commandline -ct)
end

complete -c glyphfall -f
complete -c glyphfall -n __glyphfall_reading_options -a -b -d 'black background'
complete -c glyphfall -n __glyphfall_reading_options -a -d -d 'drops ratio: drops per 1000 cells (1..100, default 10)'
complete -c glyphfall -n __glyphfall_reading_options -a -e -d 'error ratio: % of cells given new glyphs per frame (1..100, default 2)'
complete -c glyphfall -n __glyphfall_reading_options -a -h -d 'print the help text and exit'
complete -c glyphfall -n __glyphfall_reading_options -a -r -d 'seed: same seed and size, same picture (default: the time)'
complete -c glyphfall -n __glyphfall_reading_options -a -s -d 'speed: frames per second (1..100, default 10)'
complete -c glyphfall -n __glyphfall_reading_options -a -V -d 'print the version and exit'
