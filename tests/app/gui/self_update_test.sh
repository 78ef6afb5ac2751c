#!/usr/bin/env bash
# The updater updates itself, end to end, with no click: the server raises the updater version
# (a changed patcher.exe and skin, and a changed picture of the launcher program). patcher.exe
# brings the launcher program's files up to date and hands over; the launcher program shows its
# window, replaces the updater's files, writes the version and starts the new patcher.exe, which
# goes on to update the client to release 2. Screenshots: 1-launcher.png (the launcher program
# at work), 2-new-updater.png (the new updater, ready).
#   self_update_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 1m "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
log=$root/patcher/log.txt
launcher_log=$root/launcher/log.txt
patcher_self_update_release "$root"

gui_move 2 2
patcher_start "$root"
patcher_wait_visible "$LAUNCHER_TITLE" yes 90 "the launcher program's window"
patcher_wait_log "$launcher_log" 'Launcher started' 30
sleep 0.5
gui_shot "$GUI_OUT/1-launcher.png" "$LX" "$LY" "$LW" "$LH"
patcher_wait_exit 60
[ "$patcher_status" = 0 ] || gui_fail "the old updater ended with $patcher_status"

patcher_wait_log "$launcher_log" 'INFO: The updater is at version 2' 120
patcher_wait_window 90
patcher_wait_log "$log" 'INFO: Обновление завершено' 240
patcher_wait_play_enabled 30
gui_shot "$GUI_OUT/2-new-updater.png" "$WX" "$WY" "$WW" "$WH"
patcher_click "${CLOSE_AT[@]}"
patcher_wait_visible "$MAIN_TITLE" no 30 "the new updater's end"

patcher_same_folder "$root/patcher" "$GUI_OUT/updater-2" "the updater's folder"
patcher_same_folder "$root/launcher" "$GUI_OUT/launcher-2" "the launcher program's folder"
[ "$(cat "$root/config/patcher/version.sw")" = 2 ] || gui_fail "the updater's version is not 2"
[ "$(cat "$root/config/velkar/version.sw")" = 2 ] || gui_fail "the client is not at release 2"
[ ! -e "$root/config/patcher/update" ] || gui_fail "the staging folder is left"
patcher_log_has "$launcher_log" 'INFO: Started .*patcher\\patcher\.exe' || gui_fail "the launcher did not start the updater"
! patcher_log_has "$launcher_log" 'ERROR' || gui_fail "the launcher program's log has errors"
echo "PASS: self-update"
