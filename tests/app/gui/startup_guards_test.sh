#!/usr/bin/env bash
# One updater at a time, and none beside a running game client, end to end:
# - a second patcher.exe shows "Программа уже запущена" in a plain system box and ends with 0,
#   while the first goes on undisturbed;
# - with a window of class "ZVelkarClient Window" open, the updater asks; "no" ends with 0 and
#   starts nothing, "yes" starts the client with "console:0 arc:1 nogfx" and ends with 0.
#   startup_guards_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_with_nginx 10m "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
patcher_client "$root" 2
patcher_server 1 2

# The first updater, at rest.
gui_move 2 2
patcher_start "$root"
first=$gui_pid
patcher_wait_window 90
patcher_wait_play_enabled 30
patcher_shot_at_rest "$GUI_OUT/first.png" 30

# The second: a plain system box, then exit 0.
second_status=
(cd "$root/patcher" && exec "$wine_run" "$(win_path "$root/patcher/patcher.exe")" >>"$GUI_OUT/program-output.txt" 2>&1 </dev/null) &
second=$!
box=$(gui_find_window 30 --name '^Ошибка$') || gui_fail "no box titled 'Ошибка' within 30 s"
gui_shot "$GUI_OUT/second-instance.png" 0 0 1280 1024
gui_xdotool windowfocus --sync "$box"
gui_xdotool key Return
deadline=$((SECONDS + 30))
while kill -0 "$second" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "the second updater did not end"
  sleep 0.1
done
wait "$second" && second_status=0 || second_status=$?
[ "$second_status" = 0 ] || gui_fail "the second updater ended with $second_status"
kill -0 "$first" 2>/dev/null || gui_fail "the first updater ended too"
gui_move 2 2
gui_shot "$GUI_OUT/first-after.png" "$WX" "$WY" "$WW" "$WH"
[ "$(gui_differing "$GUI_OUT/first.png" "$GUI_OUT/first-after.png")" -lt 200 ] || gui_fail "the first window changed"
patcher_click "${CLOSE_AT[@]}"
patcher_wait_exit 30

# A running client: its window's class is what the updater looks for.
mkdir -p "$GUI_OUT/running-client"
cp "$stand_in_exe" "$GUI_OUT/running-client/client.exe"
"$wine_run" "$(win_path "$GUI_OUT/running-client/client.exe")" --client-window >>"$GUI_OUT/program-output.txt" 2>&1 </dev/null &
client_pid=$!
deadline=$((SECONDS + 30))
until grep -q '^window$' "$GUI_OUT/running-client/client.exe.record" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "the stand-in client window did not open"
  sleep 0.1
done
record=$root/velkar/velkarclient.exe.record
rm -f "$record" "$root/patcher/log.txt"
for answer in no yes; do
  gui_move 2 2
  patcher_start "$root"
  patcher_wait_question 60
  gui_shot "$GUI_OUT/client-running-question.png" "$BX" "$BY" "$BW" "$BH"
  if [ $answer = no ]; then patcher_click "${NO_AT[@]}"; else patcher_click "${YES_AT[@]}"; fi
  patcher_wait_exit 30
  [ "$patcher_status" = 0 ] || gui_fail "answer $answer: the updater ended with $patcher_status"
  if [ $answer = no ]; then
    sleep 1
    [ ! -e "$record" ] || gui_fail "answer no started the client"
  fi
done
deadline=$((SECONDS + 20))
until grep -q '^folder: ' "$record" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "answer yes did not start the client"
  sleep 0.1
done
printf 'start\ncommand: console:0 arc:1 nogfx\nfolder: %s\n' "$(win_path "$root/velkar")" | diff - "$record" ||
  gui_fail "the second client window was started otherwise (above)"
[ ! -e "$root/patcher/log.txt" ] || gui_fail "no update ran, yet a log was written"
kill "$client_pid" 2>/dev/null || true
wait "$client_pid" 2>/dev/null || true
echo "PASS: start-up guards"
