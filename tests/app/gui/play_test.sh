#!/usr/bin/env bash
# Play, end to end: with the client at the server's release the window ends ready; Play starts
# the game client (a stand-in that records how it was started) from the client folder with
# exactly "console:0 arc:1", and with the graphics switch turned on exactly
# "console:0 arc:1 nogfx"; the switch file follows; the updater ends each time with 0.
#   play_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 10m "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
record=$root/velkar/velkarclient.exe.record
switch=$root/config/patcher/nogfx.cfg
patcher_client "$root" 2
patcher_server 1 2
client_folder=$(win_path "$root/velkar")

# play NAME [SWITCH_CLICK]: one run to its Play click; the stand-in's record afterwards.
play() {
  local name=$1 switch_click=${2:-}
  rm -f "$record"
  gui_move 2 2
  patcher_start "$root"
  patcher_wait_window 90
  patcher_wait_play_enabled 30
  if [ -n "$switch_click" ]; then
    patcher_click "${NOGFX_AT[@]}"
    local deadline=$((SECONDS + 10))
    until [ "$(cat "$switch" 2>/dev/null)" = 1 ]; do
      [ $SECONDS -lt $deadline ] || gui_fail "the switch file does not hold 1 after the click"
      sleep 0.1
    done
  fi
  gui_move 2 2
  gui_shot "$GUI_OUT/$name.png" "$WX" "$WY" "$WW" "$WH"
  patcher_click "${PLAY_AT[@]}"
  patcher_wait_exit 30
  [ "$patcher_status" = 0 ] || gui_fail "$name: the updater ended with $patcher_status"
  local deadline=$((SECONDS + 20))
  until grep -q '^folder: ' "$record" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || gui_fail "$name: the game client was not started"
    sleep 0.1
  done
}

play play-with-graphics
[ "$(cat "$switch")" = 0 ] || gui_fail "the switch file made at start holds '$(cat "$switch")', not 0"
printf 'start\ncommand: console:0 arc:1\nfolder: %s\n' "$client_folder" | diff - "$record" ||
  gui_fail "the client was started otherwise (above)"

play play-without-graphics switch
printf 'start\ncommand: console:0 arc:1 nogfx\nfolder: %s\n' "$client_folder" | diff - "$record" ||
  gui_fail "the client was started otherwise (above)"
[ "$(cat "$switch")" = 1 ] || gui_fail "the switch file holds '$(cat "$switch")', not 1"
# The switch shows checked: the two screenshots differ at the switch.
convert "$GUI_OUT/play-with-graphics.png" -crop 190x20+30+410 +repage "$GUI_OUT/.off.png"
convert "$GUI_OUT/play-without-graphics.png" -crop 190x20+30+410 +repage "$GUI_OUT/.on.png"
[ "$(gui_differing "$GUI_OUT/.off.png" "$GUI_OUT/.on.png")" -gt 10 ] || gui_fail "the switch looks the same on and off"
echo "PASS: play"
