#!/usr/bin/env bash
# Runs a command on a private virtual display with a private session bus and accessibility bus,
# then ends everything it started. Exits 77 (skipped) where the display or the buses cannot start,
# except under CI (CI=true), where that is a failure: the setup script installs what they need.
#   run_on_bus.sh [--wayland] command [args...]
# The display is an X server (Xvfb) of 1024 x 768, or with --wayland a Wayland compositor (weston,
# headless) whose output is 1024 x 768 logical pixels at scale 2, as on a high-density screen. The
# command finds the screen's logical size in KIV_A11Y_SCREEN, and on Wayland the compositor's log
# (every protocol message of its clients) in WESTON_LOG.
set -u

limit="${KIV_A11Y_TIMEOUT:-90}"
if [ "${1:-}" = "--wayland" ]; then
    shift
    export KIV_A11Y_WAYLAND=1
fi

skip() {
    echo "a11y bus: $1" >&2
    if [ "${CI:-}" = "true" ]; then exit 1; fi
    exit 77
}

if [ -z "${KIV_A11Y_SESSION:-}" ]; then
    [ $# -gt 0 ] || { echo "usage: $0 command [args...]" >&2; exit 2; }
    display_tools=(Xvfb)
    [ -n "${KIV_A11Y_WAYLAND:-}" ] && display_tools=(weston weston-debug)
    for tool in "${display_tools[@]}" dbus-daemon dbus-send timeout setsid; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing"
    done
    if [ -n "${KIV_A11Y_WAYLAND:-}" ] && ! ls /usr/lib/*/qt6/plugins/platforms/libqwayland-*.so >/dev/null 2>&1; then
        skip "Qt's Wayland platform plugin (qt6-wayland) is missing"
    fi
    [ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi-bus-launcher is missing"
    # A session of its own, so that everything started below ends with one signal to its group.
    # A run whose virtual display went away under it (exit 75) is tried once more on a fresh one:
    # that is the machine's trouble, not the program's; any other failure stands.
    for attempt in 1 2; do
        KIV_A11Y_SESSION=1 setsid "$0" "$@" &
        group=$!
        trap 'kill -TERM -- "-$group" 2>/dev/null; exit 143' INT TERM
        wait "$group"
        rc=$?
        kill -TERM -- "-$group" 2>/dev/null && sleep 0.5
        kill -KILL -- "-$group" 2>/dev/null
        [ "$rc" -eq 75 ] && [ "$attempt" -eq 1 ] && { echo "a11y bus: trying once more on a new display" >&2; continue; }
        [ "$rc" -eq 75 ] && rc=1
        exit "$rc"
    done
fi

work="$(mktemp -d)"
cleanup() {
    # Children first (the program, the buses, the display), then our own files.
    local pids
    pids="$(jobs -p)"
    [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
    sleep 0.3
    pids="$(jobs -p)"
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# The buses' sockets and the program's single-instance lock stay in a folder of this run alone.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_until() {
    local tenths="$1"
    shift
    for _ in $(seq "$tenths"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# shellcheck source=../support/virtual_display.sh
. "$(dirname "$0")/../support/virtual_display.sh"
export KIV_A11Y_SCREEN=1024x768
if [ -n "${KIV_A11Y_WAYLAND:-}" ]; then
    unset DISPLAY
    start_wayland_compositor "$work" "$KIV_A11Y_SCREEN" 2 ||
        skip "the Wayland compositor did not start: $(tail -3 "$work/weston.out" "$work/weston.log" 2>/dev/null)"
    export WESTON_LOG
else
    unset WAYLAND_DISPLAY
    start_virtual_display "$work" "${KIV_A11Y_SCREEN}x24" ||
        skip "the virtual display did not start: $(tail -3 "$work/xvfb.log" 2>/dev/null)"
fi

dbus-daemon --session --nofork --nopidfile --print-address=4 4>"$work/bus" 2>"$work/dbus.log" &
wait_until 100 test -s "$work/bus" || skip "the session bus did not start: $(tail -3 "$work/dbus.log")"
export DBUS_SESSION_BUS_ADDRESS="$(head -1 "$work/bus")"

/usr/libexec/at-spi-bus-launcher --launch-immediately 2>"$work/atspi.log" &
owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus | grep -q 'boolean true'
}
wait_until 100 owned || skip "the accessibility bus did not start: $(tail -3 "$work/atspi.log")"
# The registry is started on demand; a program that comes up while it is still starting may never
# be listed, so it is asked for (and so started) before the command runs.
registry_up() {
    local address
    address="$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress)" || return 1
    dbus-send --bus="${address// /}" --print-reply --dest=org.a11y.atspi.Registry \
        /org/a11y/atspi/accessible/root org.freedesktop.DBus.Peer.Ping
}
wait_until 100 registry_up || skip "the accessibility registry did not start: $(tail -3 "$work/atspi.log")"

if [ -n "${KIV_A11Y_WAYLAND:-}" ]; then
    export QT_QPA_PLATFORM=wayland
    # In the sanitized build: what Qt's Wayland plugin keeps to the end is not reported. Telling
    # it by the functions that made it takes whole stacks, through libraries without frame pointers.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
    export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")/../support/sanitizer" && pwd)/wayland-client.supp:print_suppressions=0"
else
    export QT_QPA_PLATFORM=xcb
fi
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export NO_AT_BRIDGE=0

timeout -k 5 "$limit" "$@" > >(tee "$work/command.log") 2>&1 &
wait $!
rc=$?
if [ "$rc" -ne 0 ] && [ -n "${KIV_A11Y_WAYLAND:-}" ]; then
    # Tell a compositor that died, stopped answering or refused the program from a failing program.
    if ! kill -0 "$WESTON_PID" 2>/dev/null || ! timeout 5 weston-debug -l >/dev/null 2>&1 ||
        grep -qE "Failed to create wl_display|could not connect to display" "$work/command.log" 2>/dev/null; then
        echo "a11y bus: the compositor $WAYLAND_DISPLAY failed the program: $(tail -5 "$work/weston.out" 2>/dev/null)" >&2
        exit 75
    fi
elif [ "$rc" -ne 0 ]; then
    # Tell a display that died, stopped answering or refused the program from a failing program.
    if ! kill -0 "$XVFB_PID" 2>/dev/null ||
        { command -v xdpyinfo >/dev/null 2>&1 && ! timeout 5 xdpyinfo >/dev/null 2>&1; } ||
        grep -q "could not connect to display" "$work/command.log" 2>/dev/null; then
        echo "a11y bus: the virtual display $DISPLAY failed the program: $(tail -5 "$work/xvfb.log" 2>/dev/null)" >&2
        exit 75
    fi
fi
exit "$rc"
