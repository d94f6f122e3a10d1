#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG. The PNGs are committed, so a build never
# needs the converter; run this again after changing the SVG (needs rsvg-convert or ImageMagick).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
id="io.github.kivpfx.KivPfxUtility"
svg="$root/packaging/icons/$id.svg"
for size in 16 32 48 64 128 256; do
  out="$root/packaging/icons/hicolor/${size}x${size}/apps/$id.png"
  mkdir -p "$(dirname "$out")"
  if command -v rsvg-convert >/dev/null 2>&1; then
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$out"
  else
    convert -background none -density 384 "$svg" -resize "${size}x${size}" "$out"
  fi
  echo "icon: $out"
done
