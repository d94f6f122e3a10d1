#!/usr/bin/env bash
# Configures and builds into build/ (set KIV_BUILD_DIR to use another folder). Arguments are
# build targets; none builds everything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KIV_BUILD_DIR:-$root/build}"
# The configuration is CMakePresets.json's; KIV_PRESET picks another than the default one.
(cd "$root" && cmake --preset "${KIV_PRESET:-default}" -B "$build" >/dev/null)
jobs="$(nproc 2>/dev/null || echo 2)"
if [ $# -gt 0 ]; then
  for target in "$@"; do cmake --build "$build" --parallel "$jobs" --target "$target"; done
else
  cmake --build "$build" --parallel "$jobs"
fi
