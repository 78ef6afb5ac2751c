#!/usr/bin/env bash
# The updater's own version, end to end: when the server announces another updater version,
# the launcher program (a stand-in) is started from ..\launcher with that folder as working
# folder and an empty command line, the window never appears and the exit code is 0. Without
# the launcher program the updater says so in a plain box and logs an ERROR line.
#   handover_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 10m "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
record=$root/launcher/Launcher.exe.record
patcher_client "$root" 1
patcher_server 1 2
printf 2 >"$SOLMERE_NGINX_ROOT/patcher_version_new"

gui_move 2 2
patcher_start "$root"
# Until it ends the window's place stays black: the window is never shown.
deadline=$((SECONDS + 60))
while kill -0 "$gui_pid" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "the updater did not end within 60 s of the hand-over"
  mean=$(patcher_region_mean "$WX" "$WY" "$WW" "$WH")
  [ "$mean" -le 5 ] || gui_fail "something appeared where the window would be (brightness $mean)"
done
patcher_wait_exit 5
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"
deadline=$((SECONDS + 20))
until grep -q '^folder: ' "$record" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "the launcher program was not started"
  sleep 0.1
done
# No arguments. (Wine hands a program started with an empty command line its own quoted name,
# as if none had been given.)
launcher_program=$(win_path "$root/launcher/Launcher.exe")
printf 'start\ncommand: \nfolder: %s\n' "$(win_path "$root/launcher")" | diff - "$record" >/dev/null ||
  printf 'start\ncommand: "%s"\nfolder: %s\n' "$launcher_program" "$(win_path "$root/launcher")" | diff - "$record" ||
  gui_fail "the launcher program was started otherwise (above)"
log=$root/patcher/log.txt
patcher_log_has "$log" 'INFO: Патчер закрыт' || gui_fail "the hidden window did not end its run"
! patcher_log_has "$log" 'ERROR' || gui_fail "the log has errors"

# Without the launcher program: a plain box says so, the log has the reason.
rm -f "$root/launcher/Launcher.exe"
patcher_start "$root"
box=$(gui_find_window 30 --name '^Ошибка$') || gui_fail "no box titled 'Ошибка' within 30 s"
gui_shot "$GUI_OUT/launcher-missing.png" 0 0 1280 1024
gui_xdotool windowfocus --sync "$box"
gui_xdotool key Return
patcher_wait_exit 30
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"
patcher_log_has "$log" 'ERROR: Can.t start the launcher program: .*launcher\\Launcher\.exe' ||
  gui_fail "no ERROR line names the launcher program"
echo "PASS: hand-over"
