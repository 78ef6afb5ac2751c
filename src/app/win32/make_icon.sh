#!/usr/bin/env bash
# Draws the programs' icon with ImageMagick: a navy plate in a gold ring holding a gold arrow
# that points down into a tray (an update coming in). make_icon.sh OUT.ico writes the icon in
# 48, 32 and 16 pixels; the same ImageMagick gives the same pixels.
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
IM=(convert -define png:exclude-chunks=date,time)

"${IM[@]}" -size 256x256 xc:none \
  -fill '#1c2433' -stroke '#d8b05a' -strokewidth 14 -draw 'circle 128,128 128,14' \
  -fill '#f0c96a' -stroke none -draw 'polygon 104,52 152,52 152,120 188,120 128,178 68,120 104,120' \
  -fill none -stroke '#f0c96a' -strokewidth 16 -draw 'polyline 66,168 66,200 190,200 190,168' \
  "$work/icon.png"
"${IM[@]}" "$work/icon.png" -define icon:auto-resize=48,32,16 "$out"
