#!/bin/bash
# Makes docs/contact-sheet.png: the game's fifteen pictures on one sheet, for people to look at, from the
# PNGs that the build rasterizes from art/*.svg. Checks behind each picture show what is transparent.
#   tools/images/contact-sheet.sh [BUILD_DIR [OUTPUT]]    (defaults: build and docs/contact-sheet.png)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build} out=${2:-docs/contact-sheet.png}
files=()
for name in adult baby tv virus logo digit-{0..9}; do
  files+=("$build/art/$name.png")
  [ -f "${files[-1]}" ] || { echo "contact-sheet: no ${files[-1]}; build first (cmake --build $build)" >&2; exit 1; }
done
montage -label '%t' "${files[@]}" -texture pattern:checkerboard -tile 5x3 -geometry 240x240+8+8 -depth 8 \
  -pointsize 14 -fill white "$out"
echo "contact-sheet: wrote $out"
