#!/usr/bin/env bash
# Draws the two programs' icons with ImageMagick, recompresses them with optipng and packs
# them with icotool as 32-bit colour images. The .ico files are committed; run this again
# only to change them.
# The images are stored as PNG, which the shell reads since Windows Vista: a tenth of
# the bitmaps' bytes, which counts most in the stub that every installer carries.
#   installer: a woven basket (32 and 48 pixels); launcher: a start arrow (16 to 64 pixels)
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

basket() {  # size out
  local s=$1 m=$(( $1 / 8 ))
  local draw="fill #b5793a stroke #6b4220 stroke-width $(( s / 16 + 1 )) roundrectangle $m,$((s/4)) $((s-m-1)),$((s-m-1)) $((s/8)),$((s/8))"
  local weave=""
  for i in 1 2 3; do
    local y=$(( s/4 + i * (s - m - s/4) / 4 ))
    weave="$weave line $((m+1)),$y $((s-m-2)),$y"
  done
  for i in 1 2 3 4; do
    local x=$(( m + i * (s - 2*m) / 5 ))
    weave="$weave line $x,$((s/4+1)) $x,$((s-m-2))"
  done
  convert -size ${s}x${s} xc:none -draw "$draw" \
    -stroke '#6b4220' -strokewidth 1 -draw "$weave" \
    -fill none -stroke '#6b4220' -strokewidth $(( s / 16 + 1 )) \
    -draw "arc $((s/4)),$((m/2)) $((s-s/4)),$((s/2)) 180,360" \
    -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
    -define png:color-type=6 "PNG32:$2"
}

arrow() {  # size out
  local s=$1 m=$(( $1 / 16 ))
  convert -size ${s}x${s} xc:none \
    -fill '#1f6fb2' -stroke '#0d3d66' -strokewidth $(( s / 32 + 1 )) \
    -draw "circle $((s/2)),$((s/2)) $((s/2)),$m" \
    -fill '#f4a526' -stroke none \
    -draw "polygon $((s*3/8)),$((s*5/16)) $((s*3/8)),$((s*11/16)) $((s*23/32)),$((s/2))" \
    -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
    "PNG32:$2"
}

# optipng finds a smaller encoding of the same RGBA pixels (-nc -nb -np: colour type,
# bit depth and palette stay as drawn, so each image stays a 32-bit one).
squeeze() { optipng -quiet -o7 -nc -nb -np -strip all "$@"; }

for s in 32 48; do basket $s "$tmp/w$s.png"; done
squeeze "$tmp"/w*.png
icotool -c -o wickerbay.ico -r "$tmp/w32.png" -r "$tmp/w48.png"
for s in 16 24 32 48 64; do arrow $s "$tmp/v$s.png"; done
squeeze "$tmp"/v*.png
icotool -c -o vmkick.ico -r "$tmp"/v16.png -r "$tmp"/v24.png -r "$tmp"/v32.png -r "$tmp"/v48.png -r "$tmp"/v64.png
icotool -l wickerbay.ico vmkick.ico
