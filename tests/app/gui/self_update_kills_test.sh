#!/usr/bin/env bash
# The updater's own update killed at every step: the launcher program is stopped after each of
# the 30 steps of its work (six downloads, six files staged, the journal, six files moved aside
# and six moved in, one removal, the version, the journal's and the staging's end, the list)
# and killed there with kill -9 of its Wine process. After each, the next start of patcher.exe
# ends with the new updater whole and at version 2, started and showing its window.
#   self_update_kills_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 4m "$0" "$@"
patcher_init "$1" "$2"

template=$GUI_OUT/client-1
root=$GUI_OUT/client
log=$root/patcher/log.txt
launcher_log=$root/launcher/log.txt
# The client is at release 2 already: only the updater's own update is under test.
patcher_self_update_release "$template" 2
steps=30

# The client as it was before any update, again.
fresh_client() {
  rm -rf "$root"
  cp -a "$template" "$root"
}

# Ends the updater's window once it has come (the new updater, not this shell's child).
close_updater() {
  patcher_wait_window 90
  patcher_wait_play_enabled 60
  patcher_click "${CLOSE_AT[@]}"
  patcher_wait_visible "$MAIN_TITLE" no 30 "the updater's end"
}

for step in $(seq 1 $steps); do
  echo "--- killed after step $step"
  fresh_client
  SOLMERE_TEST_PAUSE_AT=$step patcher_start "$root"
  patcher_wait_log "$launcher_log" "INFO: Paused at step $step\$" 90
  pids=$(launcher_program_pids)
  [ -n "$pids" ] || gui_fail "step $step: no launcher program to kill"
  kill -9 $pids
  deadline=$((SECONDS + 20))
  while [ -n "$(launcher_program_pids)" ]; do
    [ $SECONDS -lt $deadline ] || gui_fail "step $step: the launcher program outlived kill -9"
    sleep 0.1
  done
  patcher_wait_exit 30
  patcher_wait_visible "$LAUNCHER_TITLE" no 30 "step $step: the killed launcher's window going"
  # The next start: whatever the kill left, the new updater ends up in place and running.
  patcher_start "$root"
  close_updater
  patcher_wait_exit 60
  patcher_same_folder "$root/patcher" "$GUI_OUT/updater-2" "step $step: the updater's folder"
  [ "$(cat "$root/config/patcher/version.sw")" = 2 ] || gui_fail "step $step: the updater's version is not 2"
  [ ! -e "$root/config/patcher/update/journal" ] || gui_fail "step $step: the journal is left"
  pids=$(launcher_program_pids)
  [ -z "$pids" ] || gui_fail "step $step: a launcher program is still running"
done
echo "all $steps kill points: the new updater in place and running"
