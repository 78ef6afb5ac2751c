#!/usr/bin/env bash
# The GUI test harness: starts a Windows test program under Wine on the test run's Xvfb, takes
# screenshots, moves and clicks with xdotool, and reads back what the program logged. Every
# step has a deadline and fails the test with a message. Sourced by the tests in tests/ui/gui.
#
# The caller sets: GUI_OUT (a folder for logs and screenshots), GUI_BUILD (the build folder the
# program runs in: it holds skin/), GUI_REFERENCES (reference pictures). Without a DISPLAY the
# harness starts an Xvfb of its own. SOLMERE_UPDATE_REFERENCES=1 writes missing references.
set -euo pipefail

harness_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
gui_pid=
gui_xvfb_pid=

gui_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

gui_cleanup() {
  if [ -n "$gui_pid" ] && kill -0 "$gui_pid" 2>/dev/null; then
    kill "$gui_pid" 2>/dev/null || true
    wait "$gui_pid" 2>/dev/null || true
  fi
  if [ -n "$gui_xvfb_pid" ]; then
    kill "$gui_xvfb_pid" 2>/dev/null || true
    wait "$gui_xvfb_pid" 2>/dev/null || true
  fi
}
trap gui_cleanup EXIT

gui_init() {
  mkdir -p "$GUI_OUT"
  if [ -z "${DISPLAY:-}" ]; then
    local display_file=$GUI_OUT/xvfb-display
    rm -f "$display_file"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" >"$GUI_OUT/xvfb.log" 2>&1 &
    gui_xvfb_pid=$!
    local deadline=$((SECONDS + 10))
    until [ -s "$display_file" ]; do
      [ $SECONDS -lt $deadline ] || gui_fail "Xvfb did not start within 10 s"
      sleep 0.1
    done
    export DISPLAY=:$(tr -d '[:space:]' <"$display_file")
  fi
}

# gui_start LOG PROGRAM ARGS...: the program runs in GUI_BUILD; LOG is the log file it writes.
gui_start() {
  local log=$1
  shift
  rm -f "$log"
  (cd "$GUI_BUILD" && exec "$harness_root/scripts/wine-run.sh" "$@" >"$GUI_OUT/program-output.txt" 2>&1) &
  gui_pid=$!
}

# gui_wait_log LOG PATTERN SECONDS: waits for a line matching PATTERN (extended regex); prints it.
gui_wait_log() {
  local log=$1 pattern=$2 limit=$3
  local deadline=$((SECONDS + limit))
  while :; do
    if [ -f "$log" ] && grep -Eq "$pattern" "$log"; then
      grep -E "$pattern" "$log" | tail -n 1 | tr -d "\r"
      return 0
    fi
    if [ $SECONDS -ge $deadline ]; then
      echo "--- log so far:" >&2
      cat "$log" >&2 2>/dev/null || true
      echo "--- program output:" >&2
      tail -n 20 "$GUI_OUT/program-output.txt" >&2 2>/dev/null || true
      gui_fail "no line matching '$pattern' within $limit s"
    fi
    sleep 0.1
  done
}

# gui_wait_exit SECONDS [WHAT]: waits for the program (WHAT names it) to end; its exit
# status lands in gui_status.
gui_wait_exit() {
  local deadline=$((SECONDS + $1)) what=${2:-the program}
  while kill -0 "$gui_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || gui_fail "$what did not end within $1 s"
    sleep 0.1
  done
  gui_status=0
  wait "$gui_pid" 2>/dev/null || gui_status=$?
  gui_pid=
}

# gui_find_window SECONDS SEARCH_ARGS...: prints the first window that `xdotool search
# SEARCH_ARGS` finds within SECONDS. Polled rather than --sync: a search that meets a window
# closing dies with BadWindow.
gui_find_window() {
  local deadline=$((SECONDS + $1)) id
  shift
  while :; do
    id=$(timeout 10 xdotool search "$@" 2>/dev/null | head -n 1) || true
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

gui_xdotool() {
  timeout 10 xdotool "$@" || gui_fail "xdotool $* failed or hung"
}

gui_move() { gui_xdotool mousemove "$1" "$2"; sleep 0.2; }
gui_down() { gui_xdotool mousedown 1; sleep 0.2; }
gui_up() { gui_xdotool mouseup 1; sleep 0.2; }
gui_click_at() {
  gui_move "$1" "$2"
  gui_down
  gui_up
}

# gui_drag X1 Y1 X2 Y2: a press at the first point, moves in steps of 10 pixels 50 ms apart
# (the system's move loop loses a release after a jump), a release at the second point.
gui_drag() {
  local x=$1 y=$2 tx=$3 ty=$4
  gui_move "$x" "$y"
  gui_down
  while [ "$x" -ne "$tx" ] || [ "$y" -ne "$ty" ]; do
    if [ "$x" -lt "$tx" ]; then x=$((x + 10 < tx ? x + 10 : tx)); elif [ "$x" -gt "$tx" ]; then x=$((x - 10 > tx ? x - 10 : tx)); fi
    if [ "$y" -lt "$ty" ]; then y=$((y + 10 < ty ? y + 10 : ty)); elif [ "$y" -gt "$ty" ]; then y=$((y - 10 > ty ? y - 10 : ty)); fi
    timeout 10 xdotool mousemove "$x" "$y" || gui_fail "xdotool mousemove failed or hung"
    sleep 0.05
  done
  gui_up
}

# gui_grab FILE: the whole screen as an xwd picture. A grab can meet the X server while Wine
# changes the screen under it (BadMatch); such a grab is taken again, three tries at most.
gui_grab() {
  local try
  for try in 1 2 3; do
    timeout 20 xwd -root -silent >"$1" 2>"$GUI_OUT/.grab.log" && return 0
    sleep 0.5
  done
  cat "$GUI_OUT/.grab.log" >&2
  gui_fail "xwd failed or hung three times"
}

# gui_shot FILE X Y W H: a screenshot of that screen rectangle. The pointer is parked in the
# screen's corner first so that it never lands in a picture.
gui_shot() {
  local file=$1 x=$2 y=$3 w=$4 h=$5
  sleep 0.3
  gui_grab "$GUI_OUT/.shot.xwd"
  timeout 20 convert "xwd:$GUI_OUT/.shot.xwd" -crop "${w}x${h}+${x}+${y}" +repage "png:$file" ||
    gui_fail "convert of the screenshot failed"
  rm -f "$GUI_OUT/.shot.xwd"
}

# gui_differing ACTUAL OTHER: the number of pixels that differ by more than 3 %.
gui_differing() {
  local count
  count=$(timeout 20 compare -metric AE -fuzz 3% "$1" "$2" null: 2>&1 >/dev/null || true)
  [[ "$count" =~ ^[0-9]+$ ]] || gui_fail "compare $1 $2 gave '$count'"
  echo "$count"
}

# gui_compare ACTUAL REFERENCE_NAME: the screenshot matches the reference picture, at most
# 0.5 % of its pixels off by more than 3 % (anti-aliased text edges).
gui_compare() {
  local actual=$1 reference=$GUI_REFERENCES/$2
  if [ ! -f "$reference" ]; then
    if [ "${SOLMERE_UPDATE_REFERENCES:-0}" = 1 ]; then
      cp "$actual" "$reference"
      echo "wrote reference $reference"
      return 0
    fi
    gui_fail "no reference picture $reference (SOLMERE_UPDATE_REFERENCES=1 writes it)"
  fi
  local size pixels count
  size=$(identify -format '%w %h' "$actual")
  [ "$size" = "$(identify -format '%w %h' "$reference")" ] || gui_fail "$actual is $size, $reference is not"
  pixels=$(( ${size% *} * ${size#* } ))
  count=$(gui_differing "$actual" "$reference")
  echo "compare $2: $count of $pixels pixels differ"
  [ "$count" -le $((pixels / 200)) ] || gui_fail "$actual differs from $reference in $count pixels"
}

# gui_wait_drawn X Y W H SECONDS: waits until that rectangle of the screen shows something
# (a window not presented yet reads black).
gui_wait_drawn() {
  local deadline=$(($SECONDS + $5)) mean
  while :; do
    gui_grab "$GUI_OUT/.probe.xwd"
    mean=$(timeout 20 convert "xwd:$GUI_OUT/.probe.xwd" -crop "${3}x${4}+${1}+${2}" +repage -format '%[fx:int(mean*1000)]' info:)
    rm -f "$GUI_OUT/.probe.xwd"
    [ "$mean" -gt 20 ] && return 0
    [ $SECONDS -lt $deadline ] || gui_fail "nothing drawn at ${3}x${4}+${1}+${2} within $5 s"
    sleep 0.2
  done
}

# The Windows path of a file of this machine, for the program's arguments.
gui_windows_path() {
  echo "Z:${1//\//\\}"
}
