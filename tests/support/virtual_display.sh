# Sourced by the tests that need a display. start_virtual_display WORK SCREEN starts Xvfb with the
# screen SCREEN (e.g. 1024x768x24), sets DISPLAY and XVFB_PID, and returns 1 when no server starts.
#
# Each run takes a display number of its own at random rather than the first free one: a server
# still shutting down removes its socket by name, and two servers choosing at once unlink each
# other's socket, so a number in use a moment ago must not be taken again.
start_virtual_display() {
    local work="$1" screen="$2" n
    XVFB_PID=""
    for _ in $(seq 20); do
        n=$((200 + RANDOM % 3800))
        if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
        rm -f "$work/display"
        Xvfb ":$n" -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
        XVFB_PID=$!
        # The number is written once the server accepts connections.
        for _ in $(seq 100); do
            [ -s "$work/display" ] && break
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        if [ -s "$work/display" ]; then
            DISPLAY=":$(head -n1 "$work/display")"
            export DISPLAY
            return 0
        fi
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    done
    return 1
}

# start_wayland_compositor WORK WIDTHxHEIGHT SCALE starts weston with its headless backend on an
# output of WIDTH x HEIGHT logical pixels at SCALE device pixels each, listening in
# $XDG_RUNTIME_DIR (which the caller has made its own). Sets WAYLAND_DISPLAY, WESTON_PID,
# WESTON_LOG (the compositor's log, with every protocol request and event its clients exchange)
# and QT_IM_MODULE (see below); returns 1 when three tries bring up no compositor that answers.
# The pixman renderer draws what clients show, so the screenshooter has something to take; the
# debug protocol lets weston-debug and weston-screenshooter in.
start_wayland_compositor() {
    local work="$1" size="$2" scale="$3"
    WESTON_PID=""
    WESTON_LOG="$work/weston.log"
    # No screen lock, fade-in or idle blanking in the middle of a test; a plain background and a
    # panel without a clock, so that screenshots are the same each time.
    cat >"$work/weston.ini" <<'INI'
[core]
idle-time=0
require-input=false

[shell]
locking=false
startup-animation=none
animation=none
close-animation=none
background-color=0xff3c4a5a
clock-format=none
INI
    # The headless compositor has no seat (no keyboard, no pointer), which no desktop lacks; Qt
    # 6.4's Wayland text-input context then reads the text input of a seat that is not there as
    # soon as a line edit draws its cursor, and the program crashes. Its clients compose keys as
    # on X instead.
    export QT_IM_MODULE=compose
    local attempt
    for attempt in 1 2 3; do
        WAYLAND_DISPLAY="kiv-wayland-$$-$attempt"
        export WAYLAND_DISPLAY
        weston --backend=headless-backend.so --use-pixman --width="${size%x*}" --height="${size#*x}" \
            --scale="$scale" --socket="$WAYLAND_DISPLAY" --idle-time=0 --debug --config="$work/weston.ini" \
            --log="$WESTON_LOG" --logger-scopes=log,proto >"$work/weston.out" 2>&1 &
        WESTON_PID=$!
        # The socket appears before the shell is up; a client's round trip to the debug protocol
        # answers once the compositor runs its loop.
        for _ in $(seq 300); do
            kill -0 "$WESTON_PID" 2>/dev/null || break
            if [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && timeout 5 weston-debug -l >/dev/null 2>&1; then
                return 0
            fi
            sleep 0.1
        done
        kill "$WESTON_PID" 2>/dev/null
        wait "$WESTON_PID" 2>/dev/null
        WESTON_PID=""
    done
    return 1
}
