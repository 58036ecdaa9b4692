#!/bin/sh
# commands_section.sh CLI OUT: orvante-cli's man page section COMMANDS, each command with
# its arguments and options, taken from the program's own help (a help2man include file).
set -eu
cli=$1
out=$2

# The commands listed under "Subcommands:" in the help of the words given.
subcommands() {
    "$cli" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'
}

# One command's help as a preformatted subsection; roff's escapes and leading dots kept
# as text.
section() {
    echo ".SS $*"
    echo ".nf"
    "$cli" "$@" --help | sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/'
    echo ".fi"
}

{
    echo "[COMMANDS]"
    for command in $(subcommands); do
        [ "$command" = help ] && continue
        section "$command"
        for sub in $(subcommands "$command"); do section "$command" "$sub"; done
    done
} >"$out.new"
mv "$out.new" "$out"
