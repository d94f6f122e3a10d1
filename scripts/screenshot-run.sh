#!/usr/bin/env bash
# Screenshot of a protection run in progress: the real program on a virtual screen, driven with
# xdotool through Search Files, the passwords and the confirmation.
#   scripts/screenshot-run.sh OUT.png [FILES]
# taken when the progress bar shows the run between three and five tenths done.
# The program must be built (scripts/build.sh kivpfxutil).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath "$1")"; files="${2:-300}"
program="${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil"
display=":$(( 90 + RANDOM % 500 ))"
work="$(mktemp -d)"; xvfb=""; program_pid=""
trap 'kill $program_pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

# Password-less copies of one certificate, to protect.
mkdir -p "$work/certs" "$work/runtime"; chmod 700 "$work/runtime"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 30 \
  -subj /CN=screenshot 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass: -out "$work/one.pfx"
for i in $(seq -w 1 "$files"); do cp "$work/one.pfx" "$work/certs/server$i.pfx"; done

# -noreset: without it the server resets when xrdb leaves, and Xft.dpi goes with it.
Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
echo 'Xft.dpi: 96' | xrdb -merge
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$program" &
program_pid=$!
main=""
for _ in $(seq 50); do main="$(xdotool search --name '^Kiv Pfx Utility$' 2>/dev/null | head -1)" && [ -n "$main" ] && break; sleep 0.2; done
sleep 1
# Places on the 1024 x 768 layout: Search Files, the two password boxes, Proceed.
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
click 573 600
chooser=""
for _ in $(seq 50); do chooser="$(xdotool search --name 'Find Directory' 2>/dev/null | head -1)" && [ -n "$chooser" ] && break; sleep 0.2; done
xdotool windowfocus "$chooser"; sleep 0.5
xdotool type --delay 10 "$work/certs"; xdotool key Return
sleep 3
click 320 557; xdotool type Secret1
click 320 598; xdotool type Secret1
click 900 600
question=""
for _ in $(seq 50); do
  question="$(xdotool search --name '^Kiv Pfx Utility$' 2>/dev/null | grep -v "^$main\$" | head -1)" && [ -n "$question" ] && break
  sleep 0.2
done
xdotool windowfocus "$question"; sleep 0.3
xdotool key alt+y
# xwd shows Qt's dialogs as solid black; import reads what is on the screen. Shots follow one
# another until the progress bar (from x 10 to 810) has filled past x 300 and not yet past x 500.
pixel() { /usr/bin/convert "$work/shot.png" -format "%[pixel:p{$1,590}]" info:; }
white="srgb(255,255,255)"; started=0; taken=0
for _ in $(seq 300); do
  import -window root -crop 983x662+0+0 +repage "$work/shot.png"
  if [ "$(pixel 500)" = "$white" ]; then
    started=1
    [ "$(pixel 300)" = "$white" ] || { taken=1; break; }
  elif [ "$started" -eq 1 ]; then
    break
  fi
done
[ "$taken" -eq 1 ] || { echo "screenshot: no shot caught the run between 3 and 5 tenths; try more FILES" >&2; exit 1; }
mv "$work/shot.png" "$out"
echo "screenshot: $out"
