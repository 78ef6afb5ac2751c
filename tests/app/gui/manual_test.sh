#!/usr/bin/env bash
# The manual update, end to end: the offer is declined, the manual button's file dialog is
# driven with xdotool to an update package made by publish (1 to 2), and the client reaches
# the package's version, entry by entry release 2.
#   manual_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 10m "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
log=$root/patcher/log.txt
patcher_client "$root" 1
patcher_server 1 2 -- --package-from 1 --package-url-base http://update.solmere.example/patches
package=$GUI_OUT/solmere-1-2.cup
cp "$SOLMERE_NGINX_ROOT/patches/1-2.cup" "$package"

gui_move 2 2
patcher_start "$root"
patcher_wait_window 90
patcher_wait_question 30
patcher_click "${NO_AT[@]}"
patcher_wait_no_question 10
sleep 1
patcher_click "${MANUAL_AT[@]}"
dialog=$(gui_find_window 30 --name '^Open$') || gui_fail "no file dialog within 30 s"
sleep 1
gui_shot "$GUI_OUT/dialog.png" 0 0 1280 1024
gui_xdotool windowfocus --sync "$dialog"
gui_xdotool type --delay 30 "$(win_path "$package")"
gui_xdotool key Return
patcher_wait_log "$log" 'INFO: Обновление завершено' 60
patcher_wait_play_enabled 30
gui_move 2 2
gui_shot "$GUI_OUT/after-manual.png" "$WX" "$WY" "$WW" "$WH"
patcher_click "${CLOSE_AT[@]}"
patcher_wait_exit 30
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"
[ "$(cat "$root/config/velkar/version.sw")" = 2 ] || gui_fail "the client is at $(cat "$root/config/velkar/version.sw")"
patcher_same_client "$root" "$GUI_OUT/release-2"
echo "PASS: manual update"
