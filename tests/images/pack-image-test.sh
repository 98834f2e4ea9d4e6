#!/bin/bash
# The image packer against ImageMagick's own decoding of the same PNG.
#   pack-image-test.sh PACKER ART_DIR    (ART_DIR: the build's rasterized pictures and their records)
# shellcheck disable=SC2015  # each "A && B || C" means: any step of A && B failing reaches C
set -euo pipefail && packer=$1 art=$2 dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
rgba() { convert -define png:color-type=6 "$@"; }
# Random pixels make the encoder use all five row filters; four levels make Paeth's ties common.
noise=(-seed 1 -size 13x11 xc: +noise Random -channel A +noise Random +channel)
rgba "${noise[@]}" -depth 8 "$dir/a.png" && rgba "${noise[@]}" -posterize 4 -depth 8 "$dir/b.png"
for png in "$dir/a.png" "$dir/b.png" "$art"/*.png; do  # the PNG's size, 4 bytes a pixel, its RGBA rows from the top, a NUL
  [ "${png%/*}" = "$art" ] || python3 "$packer" "$png" "${png%.png}.img" 13 11
  read -r w h <<<"$(identify -format '%w %h' "$png")" && img=${png%.png}.img
  [ "$(od -An -tu4 -N12 "$img" | xargs)" = "$w $h 4" ] && [ "$(tail -c 1 "$img" | od -An -tu1 | xargs)" = 0 ] &&
    convert "$png" -depth 8 rgba:- | cmp - <(tail -c +13 "$img" | head -c -1) || { echo "wrong record for $png"; exit 1; }
done
# Refused with a message and no record: other formats, damaged files, another size.
convert -define png:color-type=2 "$dir/a.png" "$dir/rgb.png" && { printf GIF89a; tail -c +7 "$dir/a.png"; } >"$dir/gif.png"
head -c 200 "$dir/a.png" >"$dir/short.png" && { head -c -1 "$dir/a.png"; printf '\x7f'; } >"$dir/crc.png"  # the last CRC
for bad in rgb gif short crc a; do
  status=0 && python3 "$packer" "$dir/$bad.png" "$dir/x.img" 13 "$([ $bad = a ] && echo 12 || echo 11)" 2>"$dir/err" || status=$?
  [ $status = 1 ] && grep -q '^pack-image: ' "$dir/err" && [ ! -e "$dir/x.img" ] || { echo "$bad accepted"; exit 1; }
done
