#!/usr/bin/env bash
# The updater's own update when it cannot be done: a full disk, then a server that dies in the
# middle of a download. Each time the launcher program says what went wrong and asks whether to
# try again; "no" starts the old updater, whole, which says that its own update failed and goes
# on (its window appears). With room made on the disk, the next start updates the updater.
# Screenshots: 1-disk-full.png, 2-own-update-failed.png, 3-server-gone.png.
#   self_update_failures_test.sh BUILD_DIR OUT_DIR   (under with_small_disk.sh)
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 200k "$0" "$@"
patcher_init "$1" "$2"
[ -n "${SOLMERE_SMALL_DISK:-}" ] || gui_fail "run under tests/support/with_small_disk.sh"

template=$GUI_OUT/client-1
patcher_self_update_release "$template" 2

# After a refusal: the old updater starts, says its own update failed, and shows its window.
old_updater_goes_on() {
  local root=$1 shot=$2
  box=$(gui_find_window 60 --onlyvisible --name '^Ошибка$') ||
    gui_fail "no box titled 'Ошибка' from the old updater within 60 s"
  [ -z "$shot" ] || gui_shot "$shot" 0 0 1280 1024
  gui_xdotool windowfocus --sync "$box"
  gui_xdotool key Return
  patcher_wait_visible "$MAIN_TITLE" yes 60 "the old updater's window"
  patcher_log_has "$root/patcher/log.txt" 'ERROR: The updater.s own update failed; the client.s update goes on with updater version 1' ||
    gui_fail "the old updater did not say that its own update failed"
  patcher_same_folder "$root/patcher" "$GUI_OUT/updater-1" "the old updater's folder"
  [ "$(cat "$root/config/patcher/version.sw")" = 1 ] || gui_fail "the updater's version moved"
  [ ! -e "$root/config/patcher/update/journal" ] || gui_fail "a journal is left"
}

# The launcher program's question after a failure, answered no.
answer_no() {
  patcher_wait_question 120
  [ -z "$1" ] || gui_shot "$1" "$BX" "$BY" "$BW" "$BH"
  patcher_click "${NO_AT[@]}"
}

echo "--- a full disk"
root=$SOLMERE_SMALL_DISK/client
cp -a "$template" "$root"
# Room for less than patcher.exe's download.
free=$(df --output=avail -B1 "$SOLMERE_SMALL_DISK" | tail -n 1)
[ "$free" -gt $((3 * 1024 * 1024)) ] || gui_fail "the small disk has only $free bytes free"
fallocate -l $((free - 1024 * 1024)) "$SOLMERE_SMALL_DISK/filler"
patcher_start "$root"
answer_no "$GUI_OUT/1-disk-full.png"
patcher_log_has "$root/launcher/log.txt" 'ERROR: Can.t write file .*disk full' || gui_fail "the launcher's log names no full disk"
old_updater_goes_on "$root" "$GUI_OUT/2-own-update-failed.png"
patcher_click "${CLOSE_AT[@]}"
patcher_wait_visible "$MAIN_TITLE" no 30 "the old updater's end"
patcher_wait_exit 30
# Room made: the next start brings the new updater.
rm "$SOLMERE_SMALL_DISK/filler"
patcher_start "$root"
patcher_wait_log "$root/launcher/log.txt" 'INFO: The updater is at version 2' 120
patcher_wait_window 90
patcher_wait_play_enabled 60
patcher_click "${CLOSE_AT[@]}"
patcher_wait_visible "$MAIN_TITLE" no 30 "the new updater's end"
patcher_same_folder "$root/patcher" "$GUI_OUT/updater-2" "the updater's folder after room was made"
patcher_wait_exit 30

echo "--- the server dies mid-download"
root=$GUI_OUT/client
rm -rf "$root"
cp -a "$template" "$root"
patcher_start "$root"
part=$root/config/patcher/update/download.~part
deadline=$((SECONDS + 90))
until [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 200000 ]; do
  [ $SECONDS -lt $deadline ] || gui_fail "the launcher program's download did not get going within 90 s"
  sleep 0.1
done
nginx_pid=$(cat "$(dirname "$SOLMERE_NGINX_ACCESS_LOG")/nginx.pid")
kill -TERM "$nginx_pid"
answer_no "$GUI_OUT/3-server-gone.png"
patcher_log_has "$root/launcher/log.txt" 'ERROR: Can.t get file from server: patcher\\files\\' ||
  gui_fail "the launcher's log names no failed download"
old_updater_goes_on "$root" ""
pkill -9 -f 'patcher[/\\]patcher\.exe' || true
patcher_wait_exit 30
echo "PASS: self-update failures"
