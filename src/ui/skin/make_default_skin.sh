#!/usr/bin/env bash
# Draws the pictures of the updater's default skin with ImageMagick (Debian's imagemagick) and
# lays the skin folder out: make_default_skin.sh SOURCE_DIR OUT_DIR writes OUT_DIR/skin/*.png
# and copies the skin files beside them. The same ImageMagick gives the same pixels.
set -euo pipefail
src=$1
out=$2/skin
mkdir -p "$out"
IM=(convert -define png:exclude-chunks=date,time)

# rounded W H RADIUS TOP BOTTOM BORDER OUT: a rounded box with a vertical gradient and a border.
rounded() {
  local w=$1 h=$2 r=$3 top=$4 bottom=$5 border=$6 file=$7
  "${IM[@]}" -size "${w}x${h}" gradient:"$top"-"$bottom" \
    \( -size "${w}x${h}" xc:none -fill white -draw "roundrectangle 0,0,$((w - 1)),$((h - 1)),$r,$r" \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -fill none -stroke "$border" -strokewidth 1 \
    -draw "roundrectangle 0.5,0.5,$((w - 1)).5,$((h - 1)).5,$r,$r" "$file"
}

# framed W H RADIUS TOP BOTTOM BORDER SHADOW_ALPHA OUT: a window background with soft edges: a
# blurred shadow around a rounded body, 10 pixels of margin on every side.
framed() {
  local w=$1 h=$2 r=$3 top=$4 bottom=$5 border=$6 file=$7
  local bw=$((w - 20)) bh=$((h - 20))
  rounded "$bw" "$bh" "$r" "$top" "$bottom" "$border" "$out/.body.png"
  "${IM[@]}" -size "${w}x${h}" xc:none -fill 'rgba(0,0,0,0.65)' \
    -draw "roundrectangle 10,12,$((w - 11)),$((h - 9)),$r,$r" -channel A -blur 0x5 +channel \
    "$out/.body.png" -geometry +10+10 -composite "$file"
  rm -f "$out/.body.png"
}

# Buttons: four states each.
button_set() {
  local name=$1 w=$2 h=$3 r=$4
  rounded "$w" "$h" "$r" "$5" "$6" "$7" "$out/${name}_normal.png"
  rounded "$w" "$h" "$r" "$8" "$9" "${10}" "$out/${name}_focused.png"
  rounded "$w" "$h" "$r" "${11}" "${12}" "${13}" "$out/${name}_clicked.png"
  rounded "$w" "$h" "$r" '#2b3038' '#22262d' '#3a404a' "$out/${name}_disabled.png"
}

#            name   w   h  r  normal                      focused                     clicked
button_set button 220 40 8 '#3b4b66' '#28344a' '#5b6f8f' '#50678f' '#364763' '#d8b05a' '#1e2838' '#2a364c' '#d8b05a'
button_set play 220 64 10 '#e6ac3e' '#a8661a' '#f3cf7a' '#f4c15a' '#bd7a24' '#fff0c0' '#9c5e16' '#c9882c' '#fff0c0'
button_set link 220 30 6 '#232d3d' '#1b2330' '#3a4a63' '#2f3d54' '#243042' '#d8b05a' '#161d28' '#1f2836' '#d8b05a'
button_set dialog 130 34 8 '#3b4b66' '#28344a' '#5b6f8f' '#50678f' '#364763' '#d8b05a' '#1e2838' '#2a364c' '#d8b05a'

# Title bar buttons: a round plate with a sign.
title_button() {
  local name=$1 sign=$2
  local states=(normal focused clicked disabled)
  local plates=('#2b3548' '#8a3a3a' '#5e2626' '#24282f')
  [ "$name" = minimize ] && plates=('#2b3548' '#3f5275' '#223049' '#24282f')
  local inks=('#c9d3e3' '#ffffff' '#ffffff' '#59606b')
  for i in 0 1 2 3; do
    "${IM[@]}" -size 28x28 xc:none -fill "${plates[$i]}" -stroke '#4a5a78' -draw 'circle 13.5,13.5 13.5,1' \
      -stroke "${inks[$i]}" -strokewidth 2 -draw "$sign" "$out/${name}_${states[$i]}.png"
  done
}
title_button close 'line 9,9 18,18 line 18,9 9,18'
title_button minimize 'line 8,17 19,17'

# The graphics switch: a box at the right end of a transparent strip, the caption left of it.
check_box() {
  local file=$1 fill=$2 edge=$3 mark=$4
  local draw="roundrectangle 171.5,1.5,187.5,17.5,3,3"
  "${IM[@]}" -size 190x20 xc:none -fill "$fill" -stroke "$edge" -draw "$draw" "$file"
  if [ -n "$mark" ]; then
    "${IM[@]}" "$file" -fill none -stroke "$mark" -strokewidth 2 -draw 'polyline 175,10 178,14 184,5' "$file"
  fi
}
check_box "$out/nogfx_normal.png" '#1b2330' '#5b6f8f' ''
check_box "$out/nogfx_focused.png" '#243042' '#d8b05a' ''
check_box "$out/nogfx_clicked.png" '#161d28' '#d8b05a' ''
check_box "$out/nogfx_disabled.png" '#22262d' '#3a404a' ''
check_box "$out/nogfx_checked_normal.png" '#1b2330' '#5b6f8f' '#f3cf7a'
check_box "$out/nogfx_checked_focused.png" '#243042' '#d8b05a' '#fff0c0'
check_box "$out/nogfx_checked_clicked.png" '#161d28' '#d8b05a' '#fff0c0'
check_box "$out/nogfx_checked_disabled.png" '#22262d' '#3a404a' '#59606b'

# Progress bars: a track and its fill.
rounded 800 18 9 '#0c1017' '#1a212d' '#38465e' "$out/bar_track.png"
rounded 800 18 9 '#f6cf6e' '#c07f1f' '#f8dc94' "$out/bar_fill.png"
rounded 800 18 9 '#1d2027' '#1d2027' '#2f333b' "$out/bar_disabled.png"

# The main window: title, news panel, and a status strip.
framed 860 540 18 '#212b3c' '#0f131b' '#c9a24c' "$out/main_background.png"
"${IM[@]}" "$out/main_background.png" \
  -fill '#0b0f16' -stroke '#33415a' -draw 'roundrectangle 30,70,590,400,8,8' \
  -stroke none -fill '#c9a24c' -draw 'rectangle 30,56,830,57' \
  -font DejaVu-Sans-Bold -pointsize 22 -fill '#f0cf7e' -stroke none -annotate +32+42 'Solmere Classic' \
  -font DejaVu-Sans -pointsize 13 -fill '#8b98ad' -annotate +246+42 'обновление клиента' \
  "$out/main_background.png"

# The question box.
framed 440 190 14 '#232d3e' '#121720' '#c9a24c' "$out/mb_background.png"

# The launcher program's window: a title, a line of what it does and a bar.
framed 480 170 14 '#212b3c' '#0f131b' '#c9a24c' "$out/launcher_background.png"
"${IM[@]}" "$out/launcher_background.png" \
  -stroke none -fill '#c9a24c' -draw 'rectangle 30,46,450,47' \
  -font DejaVu-Sans-Bold -pointsize 17 -fill '#f0cf7e' -annotate +32+36 'Solmere Classic' \
  "$out/launcher_background.png"
rounded 420 14 7 '#0c1017' '#1a212d' '#38465e' "$out/launcher_bar_track.png"
rounded 420 14 7 '#f6cf6e' '#c07f1f' '#f8dc94' "$out/launcher_bar_fill.png"

cp "$src/mainuni.xml" "$src/mbtuni.xml" "$src/launcher.xml" "$out/"
