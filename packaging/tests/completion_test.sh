#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion of krvx completes what krvx itself has: every command that
# `krvx --help` lists and every option of each command's --help, and file names after @.
# Usage: completion_test.sh COMPLETION_FILE KRVX
set -u
completion=$1
krvx=$2
fail=0
# shellcheck source=/dev/null
source "$completion"

# Completes the words of $1 (a trailing blank starts a new, empty word); prints COMPREPLY.
complete_line() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _krvx 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}"
}

expect() {  # LINE WORD: completing LINE offers WORD
    if ! complete_line "$1" | grep -qxF -- "$2"; then
        echo "FAIL: '$1' does not offer '$2' (offers: $(complete_line "$1" | tr '\n' ' '))"
        fail=1
    fi
}

commands=$("$krvx" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}')
[ -n "$commands" ] || { echo "FAIL: no commands in krvx --help"; exit 1; }
for c in $commands; do
    expect "krvx " "$c"
    expect "krvx --json --socket /tmp/s " "$c"
    for o in $("$krvx" "$c" --help | grep -oE '^ +(-[a-z],)?--[a-z-]+' | tr ',' ' '); do
        expect "krvx $c ${o:0:2}" "$o"
    done
done
for o in $("$krvx" --help | grep -oE '^ +(-[a-z],)?--[a-z-]+' | tr ',' ' '); do
    expect "krvx ${o:0:2}" "$o"
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/codes"
touch "$dir/codes/power.txt"
expect "krvx send @$dir/co" "@$dir/codes/"
expect "krvx send @$dir/codes/p" "@$dir/codes/power.txt "
expect "krvx hook --inject @$dir/codes/p" "@$dir/codes/power.txt "
[ "$fail" = 0 ] && echo "the completion offers every command and option of krvx"
exit "$fail"
