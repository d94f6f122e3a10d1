#!/usr/bin/env bash
# Installs what is missing, builds everything (program, tests, benchmarks) and runs every test.
# Arguments go to ctest, e.g. -R ProtectionRun to run some of them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
jobs="$(nproc 2>/dev/null || echo 2)"
cd "${KIV_BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$jobs" "$@"
