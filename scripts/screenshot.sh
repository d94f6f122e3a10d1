#!/usr/bin/env bash
# Starts the program on a virtual screen and saves a screenshot of it.
#   scripts/screenshot.sh OUT.png [WIDTHxHEIGHT] [DPI]
# The program must be built (scripts/build.sh kivpfxutil).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$1"; size="${2:-1024x768}"; dpi="${3:-96}"
program="${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil"
runtime="$(mktemp -d)"; xvfb=""; program_pid=""
trap 'kill $program_pid $xvfb 2>/dev/null || true; rm -rf "$runtime"' EXIT
# Xvfb picks a free display itself and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$runtime/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
[ -s "$runtime/display" ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
display=":$(head -n1 "$runtime/display")"
echo "Xft.dpi: $dpi" | DISPLAY="$display" xrdb -merge
# Its own runtime folder, so a copy running on the desktop does not count as a previous instance.
mkdir -m 700 "$runtime/xdg"
DISPLAY="$display" XDG_RUNTIME_DIR="$runtime/xdg" QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
sleep "${KIV_SHOT_DELAY:-3}"
DISPLAY="$display" xwd -root | /usr/bin/convert xwd:- "$out"
echo "screenshot: $out ($size at $dpi dpi)"
