#!/usr/bin/env bash
# Configures and builds into build/ (set KIV_BUILD_DIR to use another folder). Arguments are
# build targets; none builds everything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KIV_BUILD_DIR:-$root/build}"
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
jobs="$(nproc 2>/dev/null || echo 2)"
if [ $# -gt 0 ]; then
  for target in "$@"; do cmake --build "$build" --parallel "$jobs" --target "$target"; done
else
  cmake --build "$build" --parallel "$jobs"
fi
