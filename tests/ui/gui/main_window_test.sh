#!/usr/bin/env bash
# The main window's skin on the real toolkit under Wine: its look against reference pictures,
# hover and press pictures, what a click is, a disabled control, dragging by the background.
#   main_window_test.sh DEMO_EXE BUILD_DIR OUT_DIR
source "$(dirname "$0")/../gui_harness.sh"
demo=$1
GUI_BUILD=$2
GUI_OUT=$3/main-window
GUI_REFERENCES=$(cd "$(dirname "$0")/../reference" && pwd)
gui_init
log=$GUI_OUT/demo.log

gui_move 2 2
gui_start "$log" "$demo" form "$(gui_windows_path "$log")" test-skins/main_without_browser.xml
read -r _ X Y W H <<<"$(gui_wait_log "$log" '^shown ' 60)"
[ "$W" = 860 ] && [ "$H" = 540 ] || gui_fail "the window is ${W}x${H}, not the background's 860x540"
[ "$X" = 210 ] && [ "$Y" = 242 ] || gui_fail "the window is at $X,$Y, not centred on the 1280x1024 screen"
gui_wait_drawn "$X" "$Y" "$W" "$H" 20

gui_shot "$GUI_OUT/main-idle.png" "$X" "$Y" "$W" "$H"
gui_compare "$GUI_OUT/main-idle.png" main-idle.png

# Hover shows the Focused picture, a press the Clicked one, a release over it clicks.
play_x=$((X + 720)) play_y=$((Y + 102))
gui_move "$play_x" "$play_y"
gui_wait_log "$log" '^over PlayButton state 1$' 10
gui_shot "$GUI_OUT/main-hover.png" "$X" "$Y" "$W" "$H"
gui_compare "$GUI_OUT/main-hover.png" main-hover.png
[ "$(gui_differing "$GUI_OUT/main-hover.png" "$GUI_OUT/main-idle.png")" -gt 2000 ] ||
  gui_fail "hovering the play button changed nothing on screen"
gui_down
gui_shot "$GUI_OUT/main-pressed.png" "$X" "$Y" "$W" "$H"
gui_compare "$GUI_OUT/main-pressed.png" main-pressed.png
[ "$(gui_differing "$GUI_OUT/main-pressed.png" "$GUI_OUT/main-hover.png")" -gt 2000 ] ||
  gui_fail "pressing the play button changed nothing on screen"
gui_up
gui_wait_log "$log" '^click PlayButton$' 10

# A press on one button and a release on another is no click; the same press and release on
# one button is.
gui_move $((X + 720)) $((Y + 170))
gui_down
gui_move $((X + 720)) $((Y + 266))
gui_up
gui_click_at $((X + 720)) $((Y + 266))
gui_wait_log "$log" '^click ManualButton$' 10
[ "$(grep -c '^click ManualButton$' "$log")" = 1 ] || gui_fail "the release after a press elsewhere clicked"
! grep -q '^click UpdateButton$' "$log" || gui_fail "a press that ended elsewhere clicked its button"

# The disabled check button is transparent: the background under it takes the press.
gui_click_at $((X + 720)) $((Y + 218))
gui_wait_log "$log" '^background down 720 218$' 10
gui_wait_log "$log" '^drag ended ' 10
! grep -q '^click CheckButton$' "$log" || gui_fail "the disabled button took a click"

# A drag by the background moves the window; the form's stored position follows.
gui_drag $((X + 700)) $((Y + 430)) $((X + 600)) $((Y + 370))
NX=$((X - 100)) NY=$((Y - 60))
gui_wait_log "$log" "^drag ended $NX $NY\$" 10
gui_move 2 2
gui_shot "$GUI_OUT/main-moved.png" "$NX" "$NY" "$W" "$H"
gui_compare "$GUI_OUT/main-moved.png" main-idle.png

gui_click_at $((NX + 816)) $((NY + 32))
gui_wait_log "$log" '^click CloseButton$' 10
gui_wait_log "$log" "^closed at $NX $NY\$" 10
gui_wait_exit 30
echo "PASS: main window"
