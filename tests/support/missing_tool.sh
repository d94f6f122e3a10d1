# Sourced by the shell tests that run outside tools. `missing TOOL` ends the test: skipped (77) on
# a developer's machine, failed under CI=true, where scripts/setup.sh has installed everything.
missing() {
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL: $1 is missing (scripts/setup.sh installs it)"
    exit 1
  fi
  echo "SKIP: $1 is missing"
  exit 77
}
