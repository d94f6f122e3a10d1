# Sourced by the tests that need an X display. start_virtual_display WORK SCREEN starts Xvfb with the
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
