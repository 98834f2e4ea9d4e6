#!/bin/bash
# The image packer against ImageMagick's own decoding of the same PNG.
#   pack-image-test.sh PACKER ART_DIR    (ART_DIR: the build's rasterized pictures and their records)
set -euo pipefail
packer=$1 art=$2 dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
check() {  # check PNG RECORD: the PNG's size and 4 bytes a pixel, its RGBA rows from the top, a NUL
  read -r w h <<<"$(identify -format '%w %h' "$1")"
  [ "$(od -An -tu4 -N12 "$2" | xargs)" = "$w $h 4" ] && [ "$(tail -c 1 "$2" | od -An -tu1 | xargs)" = 0 ]
  convert "$1" -depth 8 rgba:- | cmp - <(tail -c +13 "$2" | head -c -1)
}
rgba() { convert -define png:color-type=6 "$@"; }
# Random pixels make the encoder use all five row filters; four levels make Paeth's ties common.
noise=(-seed 1 -size 13x11 xc: +noise Random -channel A +noise Random +channel)
rgba "${noise[@]}" -depth 8 "$dir/a.png"
rgba "${noise[@]}" -posterize 4 -depth 8 "$dir/b.png"
for png in "$dir/a.png" "$dir/b.png"; do
  python3 "$packer" "$png" "${png%.png}.img" 13 11
done
for png in "$dir"/[ab].png "$art"/*.png; do
  check "$png" "${png%.png}.img" || { echo "wrong record for $png"; exit 1; }
done
# Refused with a message and no record: other formats, damaged files, another size.
rgba "$dir/a.png" -interlace PNG "$dir/interlaced.png"
rgba -define png:bit-depth=16 "$dir/a.png" "$dir/deep.png"
convert -define png:color-type=2 "$dir/a.png" "$dir/rgb.png"
head -c 200 "$dir/a.png" >"$dir/short.png"
{ head -c -1 "$dir/a.png"; printf '\x7f'; } >"$dir/crc.png"  # only the last CRC is wrong
{ printf GIF89a; tail -c +7 "$dir/a.png"; } >"$dir/gif.png"
for bad in interlaced deep rgb short crc gif a; do
  status=0
  python3 "$packer" "$dir/$bad.png" "$dir/x.img" 13 "$([ $bad = a ] && echo 12 || echo 11)" 2>"$dir/err" || status=$?
  [ $status = 1 ] && grep -q '^pack-image: ' "$dir/err" && [ ! -e "$dir/x.img" ] || { echo "$bad accepted"; exit 1; }
done
grep -q '13x11, 13x12 expected' "$dir/err"
