#!/usr/bin/env bash
# The unattended update, end to end: patcher.exe in a client root at release 1, nginx serving
# releases 1 and 2 with the update package from 1 to 2 (made by publish; the updater version
# the one the client has). The window appears, offers the update, the count-down runs out, the
# package is downloaded and applied, and the window ends in "Клиент готов к запуску"; a click
# on Close ends the program. Screenshots of each
# state are kept in OUT_DIR: 1-start.png, 2-offer.png, 3-download.png, 4-ready.png.
#   update_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
# About 5 s for the download of the update package. "version" comes slowly (below), so that
# the start-up state stays on screen long enough to be photographed.
PATCHER_NGINX_EXTRA='location = /version { limit_rate 1k; }'
patcher_with_nginx 16k "$0" "$@"
patcher_init "$1" "$2"

root=$GUI_OUT/client
log=$root/patcher/log.txt
patcher_client "$root" 1
patcher_server 1 2 -- --package-from 1 --package-url-base http://update.solmere.example/patches
echo "update package: $(stat -c %s "$SOLMERE_NGINX_ROOT/patches/1-2.cup") bytes"
# The version number after 2500 blanks, which "%d" skips: about 2 s at 1 KB/s.
{ printf '%2500s' ''; cat "$SOLMERE_NGINX_ROOT/version"; } >"$SOLMERE_NGINX_ROOT/version.slow"
mv "$SOLMERE_NGINX_ROOT/version.slow" "$SOLMERE_NGINX_ROOT/version"

gui_move 2 2
patcher_start "$root"
patcher_wait_window 90
gui_shot "$GUI_OUT/1-start.png" "$WX" "$WY" "$WW" "$WH"

# The offer, with its count-down on the yes button.
patcher_wait_question 30
gui_shot "$GUI_OUT/2-offer.png" "$WX" "$WY" "$WW" "$WH"
! patcher_log_has "$log" 'Обновление клиента' || gui_fail "the update began before the count-down ran out"

# Nobody answers: the count-down's end starts the update.
patcher_wait_log "$log" 'INFO: Обновление клиента\.\.\.' 30
patcher_wait_no_question 10
# The speed needs a sample of just over a second.
sleep 2.5
gui_shot "$GUI_OUT/3-download.png" "$WX" "$WY" "$WW" "$WH"
! patcher_log_has "$log" 'Обновление завершено' || gui_fail "the download was over before it could be seen"

patcher_wait_log "$log" 'INFO: Обновление завершено' 120
patcher_log_has "$log" 'INFO: Версия клиента: 1\. Версия сервера: 2\.' || gui_fail "the versions were not logged"
patcher_wait_play_enabled 30
gui_shot "$GUI_OUT/4-ready.png" "$WX" "$WY" "$WW" "$WH"

# The download screenshot shows the current bar with its fill and speed; the ready one does not.
current_bar="800x18+30+494"
for shot in 3-download 4-ready; do
  convert "$GUI_OUT/$shot.png" -crop "$current_bar" +repage "$GUI_OUT/.$shot-bar.png"
done
[ "$(gui_differing "$GUI_OUT/.3-download-bar.png" "$GUI_OUT/.4-ready-bar.png")" -gt 300 ] ||
  gui_fail "the download screenshot shows no download on the current bar"

patcher_click "${CLOSE_AT[@]}"
patcher_wait_exit 30
[ "$patcher_status" = 0 ] || gui_fail "the updater ended with $patcher_status"

# The client is release 2, entry by entry.
[ "$(cat "$root/config/velkar/version.sw")" = 2 ] || gui_fail "the client version file holds $(cat "$root/config/velkar/version.sw")"
patcher_same_client "$root" "$GUI_OUT/release-2"

# The log runs from the empty line to the close.
patcher_log "$log" >"$GUI_OUT/log.txt"
[ "$(head -n 1 "$GUI_OUT/log.txt")" = "" ] || gui_fail "the log does not begin with an empty line"
sed -n 2p "$GUI_OUT/log.txt" | grep -Eq '^\[[0-9-]+ [0-9:]+\] INFO: Патчер запущен$' ||
  gui_fail "the log's second line is not 'Патчер запущен': $(sed -n 2p "$GUI_OUT/log.txt")"
tail -n 1 "$GUI_OUT/log.txt" | grep -Eq 'INFO: Патчер закрыт$' || gui_fail "the log does not end with 'Патчер закрыт'"
! grep -q 'ERROR' "$GUI_OUT/log.txt" || gui_fail "the log has errors: $(grep ERROR "$GUI_OUT/log.txt")"
echo "PASS: unattended update (screenshots in $GUI_OUT)"
