#!/usr/bin/env bash
# Starts the program on a virtual screen and saves a screenshot of it.
#   scripts/screenshot.sh OUT.png [WIDTHxHEIGHT] [DPI]
# The program must be built (scripts/build.sh kivpfxutil).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$1"; size="${2:-1024x768}"; dpi="${3:-96}"
program="${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil"
display=":$(( 90 + RANDOM % 500 ))"
Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
runtime=""; program_pid=""
trap 'kill $program_pid $xvfb 2>/dev/null || true; [ -n "$runtime" ] && rm -rf "$runtime"' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
echo "Xft.dpi: $dpi" | DISPLAY="$display" xrdb -merge
# Its own runtime folder, so a copy running on the desktop does not count as a previous instance.
runtime="$(mktemp -d)"
DISPLAY="$display" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
sleep "${KIV_SHOT_DELAY:-3}"
DISPLAY="$display" xwd -root | /usr/bin/convert xwd:- "$out"
echo "screenshot: $out ($size at $dpi dpi)"
