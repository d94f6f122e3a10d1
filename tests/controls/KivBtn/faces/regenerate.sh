#!/usr/bin/env bash
# Redraws the KivBtn face references in this folder with kivbtn-gallery. Run it only after a change
# that is meant to alter how a button looks, and look at the changed images before committing them.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../../.." && pwd)"
build="${KIV_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh" kivbtn-gallery
rm -f "$here"/*.png
"$build/src/kivbtn-gallery" --references "$here"
echo "regenerate: $(ls "$here"/*.png | wc -l) references in $here ($(du -ch "$here"/*.png | tail -1 | cut -f1))"
