#!/usr/bin/env bash
# Installs what is missing, builds everything (program, tests, benchmarks) and runs every test.
# Arguments go to ctest, e.g. -R ProtectionRun to run some of them.
#
#   scripts/test.sh --sanitize [ctest args]
# builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ (or
# KIV_ASAN_BUILD_DIR) and runs them there; the first sanitizer report fails the test it came from.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize=0
if [ "${1:-}" = "--sanitize" ]; then
  sanitize=1
  shift
fi
"$root/scripts/setup.sh"
jobs="$(nproc 2>/dev/null || echo 2)"

if [ "$sanitize" -eq 0 ]; then
  "$root/scripts/build.sh"
  cd "${KIV_BUILD_DIR:-$root/build}"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$jobs" "$@"
  exit
fi

build="${KIV_ASAN_BUILD_DIR:-$root/build-asan}"
# The sanitize preset leaves the benchmarks out: they are not tests, and they would double the build.
KIV_PRESET=sanitize KIV_BUILD_DIR="$build" "$root/scripts/build.sh"
# No strict_string_checks: the X platform plugin's libxkbcommon-x11 hands strndup a name that is not
# NUL-terminated, which is valid C, and strict checking reports it in every test on a real display.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$jobs" "$@"
