#!/usr/bin/env bash
# Closing during an update, end to end:
# - Close while files are being updated asks; yes shows "Операция отменена" and the program
#   ends within a few seconds with 0; every archive opens and verifies, the version stays 1;
# - the system closing the window (taskkill) while the offer question is open answers it no
#   and ends the program: nothing is updated.
#   cancel_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
# One of the new files trickles in at 8 bytes a second: the update cannot end before the test
# closes it, however slow or fast the machine.
PATCHER_NGINX_EXTRA='location = /files/video/part1.bin { limit_rate 8; }'
patcher_with_nginx 16k "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
log=$root/patcher/log.txt
patcher_client "$root" 1
# Forty files of 24 KB: each takes about 1.5 s at 16 KB/s, one of them (above) a day.
patcher_add_files 2 40 24
patcher_server 1 2

gui_move 2 2
patcher_start "$root"
patcher_wait_window 90
patcher_wait_question 30
patcher_click "${YES_AT[@]}"
patcher_wait_log "$log" 'INFO: Обновление клиента\.\.\.' 30
patcher_wait_no_question 10
# The change list has come: the file pass follows at once.
patcher_wait_request '/list_1 ' 30
! patcher_log_has "$log" 'Обновление завершено' || gui_fail "the update was over before it could be closed"
patcher_click "${CLOSE_AT[@]}"
patcher_wait_question 20
gui_shot "$GUI_OUT/cancel-question.png" "$BX" "$BY" "$BW" "$BH"
patcher_click "${YES_AT[@]}"
asked_at=$SECONDS
patcher_wait_log "$log" 'INFO: Операция отменена' 20
gui_move 2 2
gui_shot "$GUI_OUT/cancelled.png" "$WX" "$WY" "$WW" "$WH"
patcher_wait_exit 20
echo "the updater ended $((SECONDS - asked_at)) s after the answer"
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"
! patcher_log_has "$log" 'Обновление завершено' || gui_fail "the cancelled update was reported as finished"
patcher_log_has "$log" 'INFO: Патчер закрыт' || gui_fail "the log does not end with 'Патчер закрыт'"
[ "$(cat "$root/config/velkar/version.sw")" = 1 ] || gui_fail "the version moved on: $(cat "$root/config/velkar/version.sw")"
patcher_verify_archives "$root"
patcher_log "$log" >"$GUI_OUT/cancel-log.txt"

# The system closes the window while the offer is open.
gui_move 2 2
patcher_start "$root"
patcher_wait_window 90
patcher_wait_question 30
timeout 30 "$wine_run" taskkill /im patcher.exe >>"$GUI_OUT/program-output.txt" 2>&1 </dev/null ||
  gui_fail "taskkill failed"
patcher_wait_exit 20
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"
! patcher_log_has "$log" 'Обновление клиента' || gui_fail "the offer was taken as a yes"
patcher_log_has "$log" 'INFO: Патчер закрыт' || gui_fail "the log does not end with 'Патчер закрыт'"
[ "$(cat "$root/config/velkar/version.sw")" = 1 ] || gui_fail "the version moved on"
echo "PASS: close during an update"
