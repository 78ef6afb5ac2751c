#!/usr/bin/env bash
# The updater's end-to-end harness: a client root made by publish with the real patcher.exe
# (and stand-ins for the programs it starts), a server tree made by publish and served by a
# private nginx on loopback, and patcher.exe run under Wine on the test run's Xvfb. Sourced by
# the tests in tests/app/gui after tests/ui/gui_harness.sh; every wait has a deadline.
#
# The updater knows its update server only by the built-in name. Wine's WinINet takes its
# proxy from http_proxy, so the nginx here is the proxy for that name, the way a player
# behind a proxy reaches the real server; nothing in the program is changed for the test.

# The screen places of the default skin's window (860 x 540) and question box (440 x 190),
# both centred on the 1280 x 1024 screen.
WX=210 WY=242 WW=860 WH=540
BX=420 BY=417 BW=440 BH=190
# Centres of the controls, on the screen.
CLOSE_AT=(1026 274)
PLAY_AT=(930 344)
UPDATE_AT=(930 412)
MANUAL_AT=(930 508)
NOGFX_AT=(419 662)
YES_AT=(560 570)
NO_AT=(720 570)

patcher_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
wine_run=$patcher_root/scripts/wine-run.sh
patcher_status=

# patcher_init BUILD_DIR OUT_DIR: tools of the build, the Xvfb, the output folder.
patcher_init() {
  GUI_BUILD=$(cd "$1" && pwd)
  rm -rf "$2"
  mkdir -p "$2"
  GUI_OUT=$(cd "$2" && pwd)
  gui_init
  publish_exe=$GUI_BUILD/tools/publish/publish.exe
  pcktool_exe=$GUI_BUILD/tools/pcktool/pcktool.exe
  patcher_exe=$GUI_BUILD/src/app/win32/patcher.exe
  launcher_exe=$GUI_BUILD/src/launcher/launcher.exe
  stand_in_exe=$GUI_BUILD/tests/app/win32/stand_in_program.exe
  launcher_program_exe=$GUI_BUILD/src/app/win32/Launcher.exe
  for program in "$publish_exe" "$pcktool_exe" "$patcher_exe"; do
    [ -f "$program" ] || gui_fail "$program is not built"
  done
  trap patcher_cleanup EXIT
}

# Whatever a test leaves running holds the updater's single-instance marker and its client's
# files: a failed test must not take the next ones (patcher-cli, the lock tests) down with it.
patcher_cleanup() {
  gui_cleanup
  local pattern='(patcher|launcher|velkar)[/\\](patcher|Launcher|velkarclient)\.exe'
  pkill -9 -f "$pattern" 2>/dev/null || true
  local deadline=$((SECONDS + 20))
  while pgrep -f "$pattern" >/dev/null; do
    if [ $SECONDS -ge $deadline ]; then
      echo "patcher_cleanup: programs of the test outlived kill -9" >&2
      break
    fi
    sleep 0.1
  done
}

# Runs again beside a private nginx (tests/support/with_nginx.sh) whose server block takes the
# shipped configuration plus `limit_rate RATE`, so that a download lasts long enough to be
# seen, and PATCHER_NGINX_EXTRA when set. Call first in a test script:
# patcher_with_nginx RATE "$0" "$@".
patcher_with_nginx() {
  local rate=$1
  shift
  if [ -n "${SOLMERE_NGINX_ROOT:-}" ]; then return 0; fi
  local include
  include=$(mktemp "${TMPDIR:-/tmp}/solmere-gui-nginx.XXXXXX")
  printf 'include %s;\nlimit_rate %s;\n%s\n' "$patcher_root/tools/publish/nginx/solmere-update.conf" "$rate" \
    "${PATCHER_NGINX_EXTRA:-}" >"$include"
  local status=0
  SOLMERE_NGINX_INCLUDE=$include bash "$patcher_root/tests/support/with_nginx.sh" bash "$@" || status=$?
  rm -f "$include"
  exit $status
}

# The Windows path of a path of this machine.
win_path() {
  echo "Z:${1//\//\\}"
}

# publish ARGS...: publish.exe under Wine, its output in the test's folder.
publish() {
  local status=0
  timeout 300 "$wine_run" "$publish_exe" "$@" >>"$GUI_OUT/publish.log" 2>&1 </dev/null || status=$?
  if [ $status -ne 0 ]; then
    tail -n 20 "$GUI_OUT/publish.log" >&2
    gui_fail "publish $* failed with status $status (see $GUI_OUT/publish.log)"
  fi
}

# The sample's size: small enough to publish quickly, large enough to download for a while.
SAMPLE_OPTIONS=(--files 400 --size-mb 4)

# patcher_client ROOT RELEASE: a client root at RELEASE (publish sample) with patcher\patcher.exe
# and its skin, updater version 1, and stand-ins for the game client and the launcher program.
patcher_client() {
  local root=$1 release=$2
  rm -rf "$root"
  publish sample "$(win_path "$root")" "$release" "${SAMPLE_OPTIONS[@]}"
  mkdir -p "$root/patcher" "$root/launcher" "$root/config/patcher"
  cp "$patcher_exe" "$root/patcher/"
  cp -r "$GUI_BUILD/skin" "$root/patcher/"
  printf 1 >"$root/config/patcher/version.sw"
  if [ -f "$stand_in_exe" ]; then
    cp "$stand_in_exe" "$root/velkar/velkarclient.exe"
    cp "$stand_in_exe" "$root/launcher/Launcher.exe"
  fi
}

# patcher_server RELEASE... : every release, in order, published into the server tree from a
# sample client of its own (updater version 1); extra publish options after "--".
patcher_server() {
  local releases=() options=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    releases+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift && options=("$@")
  local release
  for release in "${releases[@]}"; do
    local source=$GUI_OUT/release-$release
    patcher_sample_release "$release"
    local extra=()
    [ "$release" = "${releases[-1]}" ] && extra=("${options[@]}")
    publish release "$(win_path "$SOLMERE_NGINX_ROOT")" "$(win_path "$source/velkar")" "$release" \
      --patcher-version 1 "${extra[@]}"
  done
}

# patcher_sample_release RELEASE: the sample client of RELEASE that patcher_server publishes.
patcher_sample_release() {
  local source=$GUI_OUT/release-$1
  [ -d "$source" ] || publish sample "$(win_path "$source")" "$1" "${SAMPLE_OPTIONS[@]}"
}

# patcher_add_files RELEASE COUNT KILOBYTES: COUNT more plain files of random bytes in that
# release's client (call before patcher_server): with the server's rate limit each takes a
# while to download, so an update of them lasts long enough to be interrupted.
patcher_add_files() {
  patcher_sample_release "$1"
  mkdir -p "$GUI_OUT/release-$1/velkar/video"
  local i
  for i in $(seq 1 "$2"); do
    head -c "$(($3 * 1024))" /dev/urandom >"$GUI_OUT/release-$1/velkar/video/part$i.bin"
  done
}

# patcher_start ROOT [WORKING_FOLDER]: patcher.exe of ROOT under Wine, by default in its own
# folder; its exit status lands in patcher_status (patcher_wait_exit).
patcher_start() {
  local root=$1 folder=${2:-$1/patcher}
  patcher_status=
  (cd "$folder" && exec env http_proxy="http://127.0.0.1:$SOLMERE_NGINX_PORT" \
    "$wine_run" "$(win_path "$root/patcher/patcher.exe")" >>"$GUI_OUT/program-output.txt" 2>&1 </dev/null) &
  gui_pid=$!
}

# patcher_wait_exit SECONDS: waits for the updater to end and keeps its exit status.
patcher_wait_exit() {
  gui_wait_exit "$1" "the updater"
  patcher_status=$gui_status
}

# The run's log as UTF-8 (the file is UTF-16LE); nothing while there is none.
patcher_log() {
  if [ -f "$1" ]; then iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r'; fi
}

# patcher_log_has LOG_FILE PATTERN: whether a line of the log matches PATTERN.
patcher_log_has() {
  patcher_log "$1" >"$GUI_OUT/.log-now.txt"
  grep -Eq "$2" "$GUI_OUT/.log-now.txt"
}

# patcher_wait_log LOG_FILE PATTERN SECONDS: waits for a log line matching PATTERN.
patcher_wait_log() {
  local log=$1 pattern=$2 limit=$3
  local deadline=$((SECONDS + limit))
  until patcher_log_has "$log" "$pattern"; do
    if [ $SECONDS -ge $deadline ]; then
      echo "--- log so far:" >&2
      patcher_log "$log" >&2 || true
      gui_fail "no log line matching '$pattern' within $limit s"
    fi
    sleep 0.2
  done
}

# patcher_wait_request PATTERN SECONDS: waits until nginx has answered a request whose line
# matches PATTERN (it logs each one once the answer has gone out).
patcher_wait_request() {
  local pattern=$1 limit=$2
  local deadline=$((SECONDS + limit))
  until grep -Eq "$pattern" "$SOLMERE_NGINX_ACCESS_LOG" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || gui_fail "no request matching '$pattern' within $limit s"
    sleep 0.1
  done
}

# patcher_region_mean X Y W H: the mean brightness of a screen rectangle, 0 to 1000.
patcher_region_mean() {
  gui_grab "$GUI_OUT/.mean.xwd"
  timeout 20 convert "xwd:$GUI_OUT/.mean.xwd" -crop "${3}x${4}+${1}+${2}" +repage -format '%[fx:int(mean*1000)]' info:
  rm -f "$GUI_OUT/.mean.xwd"
}

# patcher_wait_mean X Y W H above|below LIMIT SECONDS WHAT: waits until the rectangle's mean
# brightness is above or below LIMIT.
patcher_wait_mean() {
  local x=$1 y=$2 w=$3 h=$4 side=$5 limit=$6 seconds=$7 what=$8
  local deadline=$((SECONDS + seconds)) mean
  while :; do
    mean=$(patcher_region_mean "$x" "$y" "$w" "$h")
    if [ "$side" = above ] && [ "$mean" -gt "$limit" ]; then return 0; fi
    if [ "$side" = below ] && [ "$mean" -lt "$limit" ]; then return 0; fi
    [ $SECONDS -lt $deadline ] || gui_fail "$what: not seen within $seconds s (brightness $mean)"
    sleep 0.2
  done
}

# patcher_wait_visible TITLE yes|no SECONDS WHAT: waits until a window of that title is shown
# (mapped) or gone from the screen.
patcher_wait_visible() {
  local title=$1 wanted=$2 seconds=$3 what=$4
  local deadline=$((SECONDS + seconds))
  while :; do
    local shown=no
    timeout 10 xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 && shown=yes
    [ "$shown" = "$wanted" ] && return 0
    [ $SECONDS -lt $deadline ] || gui_fail "$what: not seen within $seconds s"
    sleep 0.1
  done
}

# patcher_shot_at_rest FILE SECONDS: a screenshot of the window once it has come to rest (two
# shots a second apart that agree): the speed of start-up's last request stays on show for a
# moment after the window is ready.
patcher_shot_at_rest() {
  local file=$1 limit=$2
  local deadline=$((SECONDS + limit))
  gui_shot "$file" "$WX" "$WY" "$WW" "$WH"
  while :; do
    sleep 1
    gui_shot "$GUI_OUT/.rest.png" "$WX" "$WY" "$WW" "$WH"
    [ "$(gui_differing "$file" "$GUI_OUT/.rest.png")" -lt 200 ] && break
    [ $SECONDS -lt $deadline ] || gui_fail "the window did not come to rest within $limit s"
    mv "$GUI_OUT/.rest.png" "$file"
  done
  rm -f "$GUI_OUT/.rest.png"
}

MAIN_TITLE='Solmere 3 Classic Updater'
BOX_TITLE='Solmere Classic Updater MessageBox'

# The window is shown (and drawn), the question box is up or gone, the play button is
# enabled (bright orange).
patcher_wait_window() {
  patcher_wait_visible "$MAIN_TITLE" yes "$1" "the updater's window"
  gui_wait_drawn "$WX" "$WY" "$WW" "$WH" 20
}
patcher_wait_question() {
  patcher_wait_visible "$BOX_TITLE" yes "$1" "the question box"
  gui_wait_drawn "$BX" "$BY" "$BW" "$BH" 20
}
patcher_wait_no_question() { patcher_wait_visible "$BOX_TITLE" no "$1" "the question box closing"; }
patcher_window_shown() { timeout 10 xdotool search --onlyvisible --name "^$MAIN_TITLE\$" >/dev/null 2>&1; }
patcher_wait_play_enabled() { patcher_wait_mean 820 312 220 64 above 300 "$1" "the enabled play button"; }

patcher_click() { gui_click_at "$1" "$2"; }

# patcher_same_client ROOT_A ROOT_B: both clients hold the same files, entry by entry in every
# archive (pcktool extract) and file by file outside them.
patcher_same_client() {
  local a=$1/velkar b=$2/velkar out=$GUI_OUT/compare
  rm -rf "$out"
  mkdir -p "$out/a" "$out/b"
  local archive
  while IFS= read -r archive; do
    local name=${archive%.pck}
    for side in a b; do
      local client=$a
      [ $side = b ] && client=$b
      mkdir -p "$out/$side/$name"
      timeout 120 "$wine_run" "$pcktool_exe" extract "$(win_path "$client/$name.pck")" "$(win_path "$out/$side/$name")" \
        >>"$GUI_OUT/pcktool.log" 2>&1 </dev/null || gui_fail "pcktool extract $client/$name.pck failed"
    done
  done < <(cd "$a" && find . -name '*.pck' | sed 's|^\./||' | sort)
  # Plain files, without the archives and the stand-in client program.
  for side in a b; do
    local client=$a
    [ $side = b ] && client=$b
    (cd "$client" && find . -type f ! -name '*.pck' ! -name '*.pkx' ! -name 'velkarclient.exe*' -print0 |
      xargs -0 -I{} cp --parents {} "$out/$side/") || gui_fail "copying the plain files of $client failed"
  done
  diff -r "$out/a" "$out/b" >"$GUI_OUT/compare.diff" || gui_fail "the clients differ (see $GUI_OUT/compare.diff)"
}

# patcher_verify_archives ROOT: every archive of the client opens and verifies.
patcher_verify_archives() {
  local archive
  while IFS= read -r archive; do
    timeout 120 "$wine_run" "$pcktool_exe" verify "$(win_path "$1/velkar/$archive")" >>"$GUI_OUT/pcktool.log" 2>&1 \
      </dev/null || gui_fail "the archive $archive does not verify (see $GUI_OUT/pcktool.log)"
  done < <(cd "$1/velkar" && find . -name '*.pck' | sed 's|^\./||' | sort)
}

# The launcher program's window (480 x 170), centred on the screen.
LAUNCHER_TITLE='Solmere Classic Launcher'
LX=400 LY=427 LW=480 LH=170

# patcher_self_update_release ROOT [RELEASE]: a client root at RELEASE (1) whose updater (version 1) and
# launcher program are the real ones, with their skins, and a server whose release 2 raises the
# updater to version 2: patcher.exe with another tail (still the same program), five pictures
# of its skin changed and one dropped, and the launcher program's background changed. The
# folders of the new files are $GUI_OUT/updater-2 and $GUI_OUT/launcher-2.
patcher_self_update_release() {
  local root=$1 old=$GUI_OUT/updater-1 new=$GUI_OUT/updater-2 launcher_old=$GUI_OUT/launcher-1
  local launcher_new=$GUI_OUT/launcher-2
  [ -f "$launcher_program_exe" ] || gui_fail "$launcher_program_exe is not built"
  rm -rf "$old" "$new" "$launcher_old" "$launcher_new"
  mkdir -p "$old" "$launcher_old"
  cp "$patcher_exe" "$old/"
  cp -r "$GUI_BUILD/skin" "$old/"
  convert -size 16x16 xc:'#804020' "$old/skin/retired.png"
  cp -r "$old" "$new"
  rm "$new/skin/retired.png"
  printf 'updater build 2' >>"$new/patcher.exe"
  local picture
  for picture in main_background button_normal button_focused play_normal bar_fill; do
    convert "$old/skin/$picture.png" -modulate 100,60,140 "$new/skin/$picture.png"
  done
  cp "$launcher_program_exe" "$launcher_old/"
  cp -r "$GUI_BUILD/skin" "$launcher_old/"
  cp -r "$launcher_old" "$launcher_new"
  convert "$launcher_old/skin/launcher_background.png" -modulate 100,60,140 "$launcher_new/skin/launcher_background.png"

  patcher_client "$root" "${2:-1}"
  rm -rf "$root/patcher" "$root/launcher"
  cp -r "$old" "$root/patcher"
  cp -r "$launcher_old" "$root/launcher"
  patcher_sample_release 1
  patcher_sample_release 2
  publish release "$(win_path "$SOLMERE_NGINX_ROOT")" "$(win_path "$GUI_OUT/release-1/velkar")" 1 \
    --patcher-files "$(win_path "$old")" --patcher-version 1 --launcher-files "$(win_path "$launcher_old")"
  # The lists the client's own programs were brought to.
  mkdir -p "$root/config/launcher"
  cp "$SOLMERE_NGINX_ROOT/patcher/list" "$root/config/patcher/files.lst"
  cp "$SOLMERE_NGINX_ROOT/launcher/list" "$root/config/launcher/files.lst"
  printf 1 >"$root/config/launcher/version.sw"
  publish release "$(win_path "$SOLMERE_NGINX_ROOT")" "$(win_path "$GUI_OUT/release-2/velkar")" 2 \
    --patcher-files "$(win_path "$new")" --patcher-version 2 --launcher-files "$(win_path "$launcher_new")"
}

# patcher_same_folder A B WHAT: both folders hold the same files (logs aside).
patcher_same_folder() {
  diff -r -x log.txt "$1" "$2" >"$GUI_OUT/folder.diff" || gui_fail "$3 differs from what was released (see $GUI_OUT/folder.diff)"
}

# The Wine processes of the launcher program.
launcher_program_pids() {
  pgrep -f 'launcher[/\\]Launcher\.exe' || true
}
