#!/usr/bin/env bash
# Starts the program on a virtual screen and saves a screenshot of it.
#   scripts/screenshot.sh OUT.png [WIDTHxHEIGHT] [DPI]              on X (Xvfb)
#   scripts/screenshot.sh --wayland OUT.png [WIDTHxHEIGHT] [SCALE]  on Wayland (weston, headless);
#                                                                   the size is in logical pixels
# The program must be built (scripts/build.sh kivpfxutil).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
wayland=0
if [ "${1:-}" = "--wayland" ]; then wayland=1; shift; fi
out="$(realpath "$1")"; size="${2:-1024x768}"
program="${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil"
runtime="$(mktemp -d)"; server=""; program_pid=""
trap 'kill $program_pid $server 2>/dev/null || true; rm -rf "$runtime"' EXIT
# Its own runtime folder, so a copy running on the desktop does not count as a previous instance.
mkdir -m 700 "$runtime/xdg"

if [ "$wayland" -eq 1 ]; then
  scale="${3:-1}"
  export XDG_RUNTIME_DIR="$runtime/xdg"
  # shellcheck source=../tests/support/virtual_display.sh
  . "$root/tests/support/virtual_display.sh"
  start_wayland_compositor "$runtime" "$size" "$scale" ||
    { echo "screenshot: weston did not start: $(tail -3 "$runtime/weston.out")" >&2; exit 1; }
  server="$WESTON_PID"
  QT_QPA_PLATFORM=wayland "$program" &
  program_pid=$!
  sleep "${KIV_SHOT_DELAY:-3}"
  # The screenshooter saves the whole output, at its device pixels, in the current folder.
  (cd "$runtime" && weston-screenshooter)
  mv "$runtime"/wayland-screenshot-*.png "$out"
  echo "screenshot: $out ($size at scale $scale, on Wayland)"
  exit 0
fi

dpi="${3:-96}"
# Xvfb picks a free display itself and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$runtime/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
[ -s "$runtime/display" ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
display=":$(head -n1 "$runtime/display")"
echo "Xft.dpi: $dpi" | DISPLAY="$display" xrdb -merge
DISPLAY="$display" XDG_RUNTIME_DIR="$runtime/xdg" QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
sleep "${KIV_SHOT_DELAY:-3}"
DISPLAY="$display" xwd -root | /usr/bin/convert xwd:- "$out"
echo "screenshot: $out ($size at $dpi dpi)"
