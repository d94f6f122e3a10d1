#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" kivpfxutil
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found; starting on a virtual one (xvfb-run)" >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" "${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil" "$@"
fi
exec "${KIV_BUILD_DIR:-$root/build}/src/kivpfxutil" "$@"
