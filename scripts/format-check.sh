#!/usr/bin/env bash
# Fails when a C++ file of the project differs from the style in .clang-format, and lists those files.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
command -v clang-format >/dev/null || "$root/scripts/setup.sh"
bad=()
while IFS= read -r -d '' file; do
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${#bad[@]}" -gt 0 ]; then
  printf 'format-check: differs from .clang-format (clang-format -i to mend): %s\n' "${bad[@]}"
  exit 1
fi
echo "format-check: $(git ls-files -- '*.cpp' '*.h' | wc -l) files match .clang-format"
