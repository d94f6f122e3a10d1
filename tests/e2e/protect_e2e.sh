#!/usr/bin/env bash
# The real program on a virtual X display, driven as a user would through its real dialogs: one
# file is added by typing its path into the open-file dialog, a folder tree is searched through the
# folder chooser, both passwords are typed, Proceed is confirmed with Yes, and the protected copies
# on disk must open with the password and only with it.
#   protect_e2e.sh PATH/TO/kivpfxutil
# Exit 77 (skipped) where Xvfb, xdotool or openssl is missing or Xvfb cannot start, unless CI=true:
# then that is a failure. Every wait is bounded; the program and Xvfb are killed at the end.
set -u

program="${1:?usage: protect_e2e.sh PATH/TO/kivpfxutil}"
[ -x "$program" ] && program="$(cd "$(dirname "$program")" && pwd)/$(basename "$program")"
password='E2e-Secret.42'
# The main window's design size and the rectangles of what the test clicks, in twips
# (left, top, width, height on the window). The window scales both axes, so the centre of a
# control keeps its share of the window.
form_w=11520
form_h=7755
cmdadd=(5880 6360 1695 375)
cmdsearch=(5880 6840 1695 375)
cmdproceed=(9720 6840 1695 375)
txtpass0=(2640 6360 2295 330)
txtpass1=(2640 6840 2295 330)

work=""
xvfb_pid=""
program_pid=""

cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$program_pid" ] && wait "$program_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

skip() {
    if [ "${CI:-}" = "true" ]; then
        echo "FAIL (CI=true, so this cannot be skipped): $*" >&2
        exit 1
    fi
    echo "SKIPPED: $*"
    exit 77
}

fail() {
    echo "FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        echo "windows of the program:" >&2
        for w in $(xdo search --onlyvisible --pid "$program_pid" 2>/dev/null); do
            echo "  $w $(xdo getwindowname "$w" 2>/dev/null)" >&2
        done
        if command -v xwd >/dev/null && command -v convert >/dev/null; then
            timeout 10 xwd -root 2>/dev/null | timeout 10 convert xwd:- "$PWD/e2e-failure.png" 2>/dev/null &&
                echo "screen at the failure: $PWD/e2e-failure.png" >&2
        fi
    fi
    [ -f "$work/program.log" ] && { echo "program output:" >&2; cat "$work/program.log" >&2; }
    exit 1
}

# No X call may hang the test.
xdo() { timeout 5 xdotool "$@"; }

# However the waits below add up, the whole test gives up after this many seconds.
deadline=$((SECONDS + 45))

# Polls `condition` (a command) every tenth of a second for at most `seconds`.
wait_for() {
    local seconds="$1"
    shift
    local tries=$((seconds * 10))
    while ((tries-- > 0)); do
        "$@" && return 0
        kill -0 "$program_pid" 2>/dev/null || fail "the program ended early"
        ((SECONDS < deadline)) || fail "out of time"
        sleep 0.1
    done
    return 1
}

for tool in Xvfb xdotool openssl timeout; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs it)"
done
[ -x "$program" ] || fail "no program at $program"

work="$(mktemp -d)"
mkdir -m 700 "$work/xdg" "$work/home"

# shellcheck source=../support/virtual_display.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/virtual_display.sh"
start_virtual_display "$work" 1280x1024x24 || skip "Xvfb cannot start: $(cat "$work/xvfb.log" 2>/dev/null)"
xvfb_pid="$XVFB_PID"

# Test files: password-less PKCS#12 files to add by name, and a tree of them (names in several
# letter cases, beside a file that is not one) to search.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=kiv-e2e -days 2 \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl cannot make a certificate"
mkdir -p "$work/single" "$work/tree/sub/deeper" "$work/originals"
sources=("$work/single/One.pfx" "$work/single/Two.PFX" "$work/tree/a.PFX" "$work/tree/sub/b.pfx"
    "$work/tree/sub/deeper/c.Pfx")
for source in "${sources[@]}"; do
    openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -passout pass: \
        -keypbe NONE -certpbe NONE -nomac -out "$source" || fail "openssl cannot write $source"
done
echo "not a certificate" >"$work/tree/notes.txt"
cp -r "$work/single" "$work/tree" "$work/originals/"

# Its own runtime folder (the single-instance lock lives there), home and Qt's own dialogs.
(
    cd "$work" || exit 1
    exec env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS \
        QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME=generic XDG_RUNTIME_DIR="$work/xdg" HOME="$work/home" \
        XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" "$program"
) >"$work/program.log" 2>&1 &
program_pid=$!

# The program's visible windows with a title matching `pattern`, one id a line.
windows() { xdo search --all --onlyvisible --pid "$program_pid" --name "$1" 2>/dev/null; }
main_window=""
find_main() {
    main_window="$(windows '^Kiv Pfx Utility$' | head -n1)"
    [ -n "$main_window" ]
}
wait_for 15 find_main || fail "the main window did not appear"
eval "$(xdo getwindowgeometry --shell "$main_window")"
main_w="$WIDTH"
main_h="$HEIGHT"

# Clicks the centre of a control given as left, top, width, height in twips. The pointer rests a
# moment first, as a person's does: without a window manager a click sent the instant a dialog has
# closed is now and then lost between the X server and the program (about one run in five).
click() {
    local x=$(((2 * $1 + $3) * main_w / (2 * form_w)))
    local y=$(((2 * $2 + $4) * main_h / (2 * form_h)))
    xdo mousemove --window "$main_window" "$x" "$y" || fail "cannot move the pointer to $x, $y"
    sleep 0.3
    xdo click 1 || fail "cannot click at $x, $y"
}

dialog=""
find_dialog() {
    dialog="$(windows "$1" | head -n1)"
    [ -n "$dialog" ]
}
dialog_gone() { [ -z "$(windows "$1")" ]; }

# Types `text` into the file name box of the dialog titled `title` and presses Enter, again if a
# completion list took the first one, until the dialog has gone.
answer_dialog() {
    local title="$1" text="$2"
    wait_for 10 find_dialog "$title" || fail "the dialog \"$title\" did not appear"
    xdo windowfocus "$dialog"
    xdo type --delay 5 "$text" || fail "cannot type into \"$title\""
    for _ in 1 2 3; do
        xdo key Return
        wait_for 3 dialog_gone "$title" && return 0
    done
    fail "the dialog \"$title\" did not take $text"
}

# Add File, twice: the open-file dialog, with a path typed by hand.
for name in One.pfx Two.PFX; do
    click "${cmdadd[@]}"
    answer_dialog '^Open$' "$work/single/$name"
done

# Search Files: the folder chooser, then the search window until it has closed itself.
click "${cmdsearch[@]}"
answer_dialog '^Find Directory$' "$work/tree"
only_main() { [ "$(xdo search --onlyvisible --pid "$program_pid" 2>/dev/null | wc -l)" -eq 1 ]; }
wait_for 10 only_main || fail "the search window did not close"

# The passwords, typed into both boxes.
click "${txtpass0[@]}"
xdo type --delay 5 "$password" || fail "cannot type the password"
click "${txtpass1[@]}"
xdo type --delay 5 "$password" || fail "cannot type the password again"

# Proceed, and Yes at the confirmation (the message box carries the program's title too).
click "${cmdproceed[@]}"
question=""
find_question() {
    question="$(windows '^Kiv Pfx Utility$' | grep -vx "$main_window" | head -n1)"
    [ -n "$question" ]
}
wait_for 10 find_question || fail "Proceed asked nothing"
xdo windowfocus "$question"
xdo key alt+y || fail "cannot answer Yes"

outputs=()
for source in "${sources[@]}"; do outputs+=("${source%????}_Password.Pfx"); done
all_written() {
    local output
    for output in "${outputs[@]}"; do [ -f "$output" ] || return 1; done
}
wait_for 20 all_written || fail "not every protected copy was written: $(cd "$work" && find . -name '*_Password*')"

status=0
for output in "${outputs[@]}"; do
    if ! openssl pkcs12 -in "$output" -passin "pass:$password" -noout 2>"$work/openssl.err"; then
        echo "FAIL: $output does not open with the password: $(cat "$work/openssl.err")" >&2
        status=1
    fi
    if openssl pkcs12 -in "$output" -passin pass:wrong -noout 2>/dev/null; then
        echo "FAIL: $output opens with a wrong password" >&2
        status=1
    fi
    if ! openssl pkcs12 -in "$output" -passin "pass:$password" -nodes 2>/dev/null | grep -q 'PRIVATE KEY'; then
        echo "FAIL: $output holds no private key" >&2
        status=1
    fi
done
written="$(find "$work/single" "$work/tree" -name '*_Password*' | wc -l)"
[ "$written" -eq "${#outputs[@]}" ] || { echo "FAIL: $written copies written, expected ${#outputs[@]}" >&2; status=1; }
for source in "${sources[@]}"; do
    cmp -s "$source" "$work/originals/${source#"$work"/}" || { echo "FAIL: $source was changed" >&2; status=1; }
done
[ "$status" -eq 0 ] || fail "the protected copies are not right"
echo "PASSED: ${#outputs[@]} files added through the real dialogs and protected"
