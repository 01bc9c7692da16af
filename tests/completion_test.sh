#!/usr/bin/env bash
# Drives the bash completions of cassmak and casstool as bash does: sets
# COMP_WORDS and COMP_CWORD for a command line with the cursor at its end,
# calls the completion function and compares the sorted COMPREPLY.
# With a casstool executable, also checks that the commands offered are
# exactly those `casstool --help` lists from its table, and that `-W` offers
# exactly the kinds that `casstool check --help` lists.
# Usage: completion_test.sh COMPLETIONS_FOLDER [CASSTOOL]
set -u
export LC_ALL=C
source "$1/cassmak" && source "$1/casstool" || exit 1
[[ $(complete -p cassmak casstool) == *"_cassmak cassmak"*"_casstool casstool" ]] || {
    echo "FAIL: the completions are not registered"
    exit 1
}

casstool=
(($# > 1)) && casstool=$(realpath -- "$2")
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir raw && touch a.kst b.kst prog.bas data.bin raw/x.bin || exit 1
mkdir names && touch 'names/a*' names/a.kst || exit 1 # a name that is also a pattern

# Each case: the command line up to the cursor | the completions expected.
cases=(
    'cassmak -h|-h -hless'
    'cassmak -|-a -append -b -h -hless -m -n -o -t -v'
    'cassmak |a.kst b.kst data.bin names prog.bas raw'
    'cassmak -o |a.kst b.kst data.bin names prog.bas raw'
    'cassmak -b p|prog.bas'
    'cassmak names/a|names/a* names/a.kst'
    'cassmak -n |'
    'cassmak -m -|'
    'cassmak -m -o -b -t X |a.kst b.kst data.bin names prog.bas raw'
    'casstool |--help --version -h -v add basic check copy extract join list move renum rm set split'
    'casstool renum -|--dry-run --help --no-sync --start --step -o -q'
    'casstool renum --step |'
    'casstool renum p|prog.bas'
    'casstool e|extract'
    'casstool list |a.kst b.kst names raw'
    'casstool list raw/|raw/x.bin'
    'casstool list names/|names/a.kst'
    'casstool list --j|--json'
    'casstool extract -|--force --help --no-sync -d -o -q'
    'casstool extract -o |a.kst b.kst data.bin names prog.bas raw'
    'casstool extract -o out.bin a|a.kst'
    'casstool rm -|--dry-run --help --no-sync -q'
    'casstool set a.kst 1 -|--address --dry-run --force --help --name --no-sync --number --type -q'
    'casstool set a.kst 1 --name |'
    'casstool copy -|--at --dry-run --force --help --no-sync --to -q'
    'casstool copy a.kst 1 --to |a.kst b.kst names raw'
    'casstool join -o |a.kst b.kst data.bin names prog.bas raw'
    'casstool join -o x.kst |a.kst b.kst names raw'
    'casstool join -|--dry-run --force --help --no-sync -o -q'
    'casstool split a.kst -d |names raw'
    'casstool split a.kst -|--dry-run --force --help --no-sync -d -q'
    'casstool split a.kst |'
    'casstool move |a.kst b.kst names raw'
    'casstool extract a.kst |all'
    'casstool extract -- a|a.kst'
    'casstool extract -- -x 1 -|'
    'casstool basic b.kst -o |a.kst b.kst data.bin names prog.bas raw'
    'casstool check -W no-s|no-source-size no-split-line'
    'casstool check -W no-n|no-no-number no-non-ascii no-nul no-number-range'
    'casstool check -W bom|'
    'casstool check -Wno-so|-Wno-source-size'
    'casstool check -Wx|'
    'casstool check -W no-bom p|prog.bas'
    'casstool check --|--help'
    'casstool frobnicate |'
)

failures=0 checked=0
run_cases()
{
    local case line expected got
    for case in "$@"; do
        line=${case%%|*} expected=${case#*|}
        read -r -a COMP_WORDS <<<"$line"
        [[ $line == *' ' ]] && COMP_WORDS+=('')
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        # As bash calls it: the command's name first, here the casstool to ask.
        "_${COMP_WORDS[0]}" "${casstool:-${COMP_WORDS[0]}}"
        got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -s -d ' ')
        if [[ $got != "$expected" ]]; then
            echo "FAIL: '$line' completes to '$got', expected '$expected'"
            ((failures++))
        fi
        ((checked++))
    done
}
run_cases "${cases[@]}"
if [[ -n $casstool ]]; then
    # Entry numbers, from `casstool list --json` of the image on the line: an
    # image of three headless blocks, and one of twelve.
    mkdir tapes && printf '\1\0A\1\0B\1\0C' >tapes/three.kst || exit 1
    for ((i = 0; i < 12; i++)); do printf '\0\0'; done >tapes/twelve.kst
    run_cases \
        'casstool rm tapes/three.kst |1 2 3 all' \
        'casstool rm tapes/three.kst 1 |1 2 3 all' \
        'casstool rm tapes/twelve.kst 1|1 10 11 12' \
        'casstool rm tapes/twelve.kst a|all' \
        'casstool set tapes/three.kst |1 2 3' \
        'casstool set tapes/three.kst 2 |' \
        'casstool set --number 3 tapes/three.kst |1 2 3' \
        'casstool move tapes/three.kst 1 |1 2 3' \
        'casstool move tapes/three.kst 1 2 |' \
        'casstool extract tapes/three.kst |1 2 3 all' \
        'casstool extract tapes/three.kst a|all' \
        'casstool basic tapes/three.kst |1 2 3' \
        'casstool renum tapes/three.kst |1 2 3' \
        'casstool renum prog.bas |' \
        'casstool extract -o x tapes/three.kst 3|3' \
        'casstool copy tapes/three.kst 2 |1 2 3 all' \
        'casstool copy tapes/three.kst 2 --to tapes/twelve.kst --at 1|1 10 11 12' \
        'casstool copy tapes/three.kst 2 --at |' \
        'casstool rm tapes/none.kst |' \
        'casstool rm -- tapes/three.kst |1 2 3 all'

    # The commands, as the table behind `casstool --help` lists them.
    commands=$("$casstool" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z]*\)\( .*\)\{0,1\}$/\1/p' | sort | paste -s -d ' ')
    COMP_WORDS=(casstool '') COMP_CWORD=1
    _casstool
    got=$(printf '%s\n' "${COMPREPLY[@]}" | grep -v '^-' | sort | paste -s -d ' ')
    if [[ -z $commands || $got != "$commands" ]]; then
        echo "FAIL: casstool completes the commands '$got', casstool --help lists '$commands'"
        ((failures++))
    fi
    kinds=$("$casstool" check --help | sed -n '/^Kinds:/,/^$/s/^\(Kinds:\)\{0,1\} *//p' | tr ' ' '\n' | sed -n 's/^./no-&/p' | sort | paste -s -d ' ')
    COMP_WORDS=(casstool check -W '') COMP_CWORD=3
    _casstool
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -s -d ' ')
    if [[ -z $kinds || $got != "$kinds" ]]; then
        echo "FAIL: -W completes to '$got', casstool check --help lists '$kinds'"
        ((failures++))
    fi
fi
echo "$checked completions checked, $failures failed"
((failures == 0))
