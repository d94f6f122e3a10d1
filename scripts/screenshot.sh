#!/usr/bin/env bash
# Starts the program on a virtual screen and saves a screenshot of it.
#   scripts/screenshot.sh [--qt-scale F] OUT.png [WIDTHxHEIGHT] [DPI]        on X (Xvfb)
#   scripts/screenshot.sh --wayland [--qt-scale F] OUT.png [WIDTHxHEIGHT] [SCALE]
#                                                   on Wayland (weston, headless, output scale SCALE)
#   scripts/screenshot.sh --all [FOLDER]            every screenshot of docs/screenshots, into FOLDER
#                                                   (docs/screenshots when not given)
# WIDTHxHEIGHT is the screen the program sees, in logical pixels (1024x768 when not given); with
# --qt-scale F the program runs with QT_SCALE_FACTOR=F on a screen F times as large. On X the
# shot is cropped to the main window. --all also crops the six buttons of every 1024 x 768 shot at
# full resolution into KIV_SHOT_CROPS (a new temporary folder when not set) for a close look, and
# keeps the one of scale 2 on Wayland as buttons-wayland-scale2.png.
# The program must be built (scripts/build.sh kivpfxutil); --all also runs scripts/screenshot-run.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
self="$root/scripts/screenshot.sh"

# The six buttons of the main window on a 1024 x 768 screen, in logical pixels from the top-left
# of its client area, which is the window's own background colour.
buttons_logical=(495 536 485 86)
window_background="#FFE0C0"

# crop_buttons SHOT FACTOR OUT: the buttons of SHOT, taken at FACTOR device pixels a logical one.
crop_buttons() {
  local shot="$1" factor="$2" out="$3" origin x y
  # The extent of the background colour, inside a black border that the trim always removes.
  origin="$(/usr/bin/convert "$shot" -alpha off -fill black -fuzz 0 +opaque "$window_background" \
    -bordercolor black -border 1 -format '%@' info:)"
  x="${origin#*+}"; x="${x%%+*}"; y="${origin##*+}"
  read -r cx cy cw ch < <(awk -v f="$factor" -v x="$x" -v y="$y" -v l="${buttons_logical[*]}" \
    'BEGIN { split(l, b, " "); printf "%d %d %d %d\n", x - 1 + b[1] * f, y - 1 + b[2] * f, b[3] * f, b[4] * f }')
  /usr/bin/convert "$shot" -crop "${cw}x${ch}+${cx}+${cy}" +repage "$out"
}

if [ "${1:-}" = "--all" ]; then
  folder="$(realpath "${2:-$root/docs/screenshots}")"
  crops="${KIV_SHOT_CROPS:-$(mktemp -d)}"
  mkdir -p "$folder" "$crops"
  # name, then this script's arguments after the file name
  shots=(
    "main-640x480.png|640x480"
    "main-1024x768.png|1024x768"
    "main-1366x768.png|1366x768"
    "main-1920x1080.png|1920x1080"
    "main-1600x1200-144dpi.png|1600x1200 144"
    "main-1024x768-scale1.5.png|--qt-scale 1.5|1024x768"
    "main-1024x768-scale2.png|--qt-scale 2|1024x768"
    "main-wayland-1024x768-scale1.5.png|--wayland --qt-scale 1.5|1024x768 1"
    "main-wayland-1024x768-scale2.png|--wayland|1024x768 2"
  )
  for entry in "${shots[@]}"; do
    IFS='|' read -r name options rest <<<"$entry"
    [ -n "${rest:-}" ] || { rest="$options"; options=""; }
    # shellcheck disable=SC2086  # the options and sizes are words
    "$self" $options "$folder/$name" $rest
    case "$name" in
      *1024x768-scale1.5.png) crop_buttons "$folder/$name" 1.5 "$crops/${name%.png}-buttons.png" ;;
      *1024x768-scale2.png) crop_buttons "$folder/$name" 2 "$crops/${name%.png}-buttons.png" ;;
      *1024x768.png) crop_buttons "$folder/$name" 1 "$crops/${name%.png}-buttons.png" ;;
    esac
  done
  # The README shows one at full resolution.
  cp "$crops/main-wayland-1024x768-scale2-buttons.png" "$folder/buttons-wayland-scale2.png"
  "$root/scripts/screenshot-run.sh" "$folder/run-in-progress-1024x768.png"
  echo "screenshot: the buttons at full resolution are in $crops"
  exit 0
fi

wayland=0
qt_scale=1
while [ $# -gt 0 ]; do
  case "$1" in
    --wayland) wayland=1; shift ;;
    --qt-scale) qt_scale="$2"; shift 2 ;;
    *) break ;;
  esac
done
out="$(realpath "$1")"; size="${2:-1024x768}"
# The screen the program sees is WIDTHxHEIGHT; QT_SCALE_FACTOR divides what it is given by F.
screen="$(awk -v s="$size" -v f="$qt_scale" 'BEGIN { split(s, d, "x"); printf "%dx%d", d[1] * f, d[2] * f }')"
program="${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil"
runtime="$(mktemp -d)"; server=""; program_pid=""
trap 'kill $program_pid $server 2>/dev/null || true; rm -rf "$runtime"' EXIT
# Its own runtime folder, so a copy running on the desktop does not count as a previous instance.
mkdir -m 700 "$runtime/xdg"
scaling=()
[ "$qt_scale" = 1 ] || scaling=(QT_SCALE_FACTOR="$qt_scale")

if [ "$wayland" -eq 1 ]; then
  scale="${3:-1}"
  export XDG_RUNTIME_DIR="$runtime/xdg"
  # shellcheck source=../tests/support/virtual_display.sh
  . "$root/tests/support/virtual_display.sh"
  start_wayland_compositor "$runtime" "$screen" "$scale" ||
    { echo "screenshot: weston did not start: $(tail -3 "$runtime/weston.out")" >&2; exit 1; }
  server="$WESTON_PID"
  env "${scaling[@]}" QT_QPA_PLATFORM=wayland "$program" &
  program_pid=$!
  sleep "${KIV_SHOT_DELAY:-3}"
  # The screenshooter saves the whole output, at its device pixels, in the current folder.
  (cd "$runtime" && weston-screenshooter)
  mv "$runtime"/wayland-screenshot-*.png "$out"
  echo "screenshot: $out ($size at output scale $scale, QT_SCALE_FACTOR $qt_scale, on Wayland)"
  exit 0
fi

dpi="${3:-96}"
# Xvfb picks a free display itself and writes its number once it accepts connections. Without
# -noreset the server resets when its last client leaves, and xrdb's Xft.dpi goes with it.
Xvfb -displayfd 3 -noreset -screen 0 "${screen}x24" -nolisten tcp 3>"$runtime/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
[ -s "$runtime/display" ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n1 "$runtime/display")"
export DISPLAY
echo "Xft.dpi: $dpi" | xrdb -merge
[ "$(xrdb -query | awk '$1 == "Xft.dpi:" { print $2 }')" = "$dpi" ] ||
  { echo "screenshot: the X server did not keep Xft.dpi" >&2; exit 1; }
env "${scaling[@]}" XDG_RUNTIME_DIR="$runtime/xdg" QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
window=""
for _ in $(seq 50); do
  window="$(xdotool search --name '^Kiv Pfx Utility$' 2>/dev/null | head -1)" && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "screenshot: the main window did not appear" >&2; exit 1; }
sleep "${KIV_SHOT_DELAY:-3}"
# xwd shows Qt's dialogs as solid black; import reads what is on the screen.
eval "$(xdotool getwindowgeometry --shell "$window")"
# shellcheck disable=SC2153  # X, Y, WIDTH and HEIGHT come from xdotool
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "screenshot: $out ($size at $dpi dpi, QT_SCALE_FACTOR $qt_scale, on X; ${WIDTH}x${HEIGHT} window)"
