#!/usr/bin/env bash
# The bash completion offers kivpfx's commands, options and files, and the man page formats
# without warnings. Exits 77 (skipped) when a tool is missing, unless CI=true.
set -uo pipefail
root="$1"
completion="$root/packaging/kivpfx.bash-completion"
manpage="$root/packaging/kivpfx.1"
failures=0

missing() {
    if [ "${CI:-}" = "true" ]; then
        echo "FAIL: $1 is missing (scripts/setup.sh installs it)"
        exit 1
    fi
    echo "SKIP: $1 is missing"
    exit 77
}

[ -f /usr/share/bash-completion/bash_completion ] || missing bash-completion
command -v groff >/dev/null || missing groff

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
touch "$folder/a.pfx" "$folder/B.PFX" "$folder/notes.txt"

complete_line() {  # words of the line; the last one is being completed
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

words="$(complete_line kivpfx '')"
check "commands" protect "$words"
check "commands" inspect "$words"
words="$(complete_line kivpfx protect --)"
check "protect options" --jobs "$words"
check "protect options" --password-file "$words"
check "protect options" --dry-run "$words"
check "protect options" --compat "$words"
check "protect options" --iterations "$words"
words="$(complete_line kivpfx protect --iterations '')"
check "iteration counts" 10000 "$words"
check_not "iteration counts are no files" a.pfx "$words"
check_not "no password option" --password "$words"
words="$(complete_line kivpfx inspect --)"
check "inspect options" --json "$words"
check_not "inspect has no jobs" --jobs "$words"
words="$(complete_line kivpfx protect '')"
check "pfx files" a.pfx "$words"
check "pfx files in any case" B.PFX "$words"
check "folders" certs "$words"
check_not "other files" notes.txt "$words"
words="$(complete_line kivpfx protect --password-file '')"
check "password file takes any file" notes.txt "$words"

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
