#!/usr/bin/env bash
# The bash, zsh and fish completions offer kivpfx's commands, options and files, and the man page
# formats without warnings. Exits 77 (skipped) when a tool is missing, unless CI=true.
set -uo pipefail
root="$1"
completion="$root/packaging/kivpfx.bash-completion"
zsh_completion="$root/packaging/kivpfx.zsh-completion"
fish_completion="$root/packaging/kivpfx.fish"
manpage="$root/packaging/kivpfx.1"
failures=0

# shellcheck source=../support/missing_tool.sh
source "${BASH_SOURCE[0]%/*}/../support/missing_tool.sh"

[ -f /usr/share/bash-completion/bash_completion ] || missing bash-completion
command -v groff >/dev/null || missing groff
command -v zsh >/dev/null || missing zsh
command -v fish >/dev/null || missing fish
command -v python3 >/dev/null || missing python3

check() {  # name, expected word, actual words
    if [[ " $3 " == *" $2 "* ]]; then
        echo "ok: $1"
    else
        echo "FAIL: $1: '$2' not offered in: $3"
        failures=$((failures + 1))
    fi
}
check_not() {
    if [[ " $3 " != *" $2 "* ]]; then
        echo "ok: $1"
    else
        echo "FAIL: $1: '$2' offered in: $3"
        failures=$((failures + 1))
    fi
}

folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/certs"
touch "$folder/a.pfx" "$folder/B.PFX" "$folder/c.p12" "$folder/notes.txt"

# Each prints what its shell offers for the last of the words given (the words of the line), one
# space-separated list, a folder without its trailing slash.
complete_bash() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        shift
        cd "$1"
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}
        _kivpfx kivpfx "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s " "${COMPREPLY[@]}"
    ' _ "$completion" "$folder" "$@"
}
complete_zsh() {
    python3 "$root/tests/cli/zsh_complete.py" "$zsh_completion" "$folder" "$@" | tr '\n' ' '
}
complete_fish() {
    (cd "$folder" && fish --no-config -c 'source $argv[1]; complete -C (string join " " -- $argv[2..])' \
        "$fish_completion" "$@") | cut -f1 | sed 's|/$||' | tr '\n' ' '
}

if zsh -n "$zsh_completion" && fish --no-execute "$fish_completion"; then
    echo "ok: zsh and fish parse their completions"
else
    echo "FAIL: the zsh or fish completion does not parse"
    failures=$((failures + 1))
fi

for shell in bash zsh fish; do
    offered() { words="$(complete_$shell "$@")"; }
    offered kivpfx ''
    check "$shell: commands" protect "$words"
    check "$shell: commands" inspect "$words"
    offered kivpfx protect --
    check "$shell: protect options" --jobs "$words"
    check "$shell: protect options" --password-file "$words"
    check "$shell: protect options" --dry-run "$words"
    check "$shell: protect options" --shard "$words"
    check "$shell: protect options" --files-from "$words"
    check "$shell: protect options" --compat "$words"
    check "$shell: protect options" --iterations "$words"
    check_not "$shell: no password option" --password "$words"
    offered kivpfx protect --iterations ''
    check "$shell: iteration counts" 10000 "$words"
    check_not "$shell: iteration counts are no files" a.pfx "$words"
    offered kivpfx inspect --
    check "$shell: inspect options" --json "$words"
    check_not "$shell: inspect has no jobs" --jobs "$words"
    offered kivpfx protect ''
    check "$shell: pfx files" a.pfx "$words"
    check "$shell: pfx files in any case" B.PFX "$words"
    check "$shell: p12 files" c.p12 "$words"
    check "$shell: folders" certs "$words"
    check_not "$shell: other files" notes.txt "$words"
    offered kivpfx protect --password-file ''
    check "$shell: password file takes any file" notes.txt "$words"
done

warnings="$(LC_ALL=C.UTF-8 groff -t -man -Tutf8 -ww -z "$manpage" 2>&1)"
if [ -n "$warnings" ]; then
    echo "FAIL: man page warnings: $warnings"
    failures=$((failures + 1))
else
    echo "ok: man page formats without warnings"
fi
for section in "EXIT STATUS" "COMPATIBILITY" "EXAMPLES" "--password-file" "--compat" "--iterations"; do
    if grep -q -- "$section" <(groff -t -man -Tutf8 "$manpage" 2>/dev/null | sed 's/.\x08//g'); then
        echo "ok: man page has $section"
    else
        echo "FAIL: man page lacks $section"
        failures=$((failures + 1))
    fi
done

[ "$failures" -eq 0 ]
