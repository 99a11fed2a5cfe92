#!/bin/sh
# Writes a help2man include with a section per sub-command of PROGRAM, each the sub-command's
# own --help, so the manual page lists every option the program takes.
#   commands.sh PROGRAM OUTPUT
set -eu
program=$1
out=$2
{
    echo "[COMMANDS]"
    "$program" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z]*\).*/\1/p' |
        while read -r command; do
            echo ".SS $command"
            echo ".nf"
            "$program" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^[.'"'"']/\\\&&/'
            echo ".fi"
        done
} >"$out"
