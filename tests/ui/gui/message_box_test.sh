#!/usr/bin/env bash
# The question box on the real toolkit under Wine: its look with a Russian question against a
# reference picture, No answers no, and a count-down that runs out answers yes by itself.
#   message_box_test.sh DEMO_EXE BUILD_DIR OUT_DIR
source "$(dirname "$0")/../gui_harness.sh"
demo=$1
GUI_BUILD=$2
GUI_OUT=$3/message-box
GUI_REFERENCES=$(cd "$(dirname "$0")/../reference" && pwd)
gui_init
log=$GUI_OUT/ask.log

gui_move 2 2
gui_start "$log" "$demo" ask "$(gui_windows_path "$log")" 0
read -r _ X Y W H <<<"$(gui_wait_log "$log" '^box ' 60)"
[ "$W" = 440 ] && [ "$H" = 190 ] || gui_fail "the box is ${W}x${H}, not its background's 440x190"
gui_wait_drawn "$X" "$Y" "$W" "$H" 20
gui_shot "$GUI_OUT/question.png" "$X" "$Y" "$W" "$H"
gui_compare "$GUI_OUT/question.png" message-box.png
gui_click_at $((X + 300)) $((Y + 153))
gui_wait_log "$log" '^answer no$' 10
gui_wait_exit 30

gui_move 2 2
gui_start "$log" "$demo" ask "$(gui_windows_path "$log")" 2
gui_wait_log "$log" '^box ' 60
gui_wait_drawn "$X" "$Y" "$W" "$H" 20
gui_shot "$GUI_OUT/counting.png" "$X" "$Y" "$W" "$H"
[ "$(gui_differing "$GUI_OUT/counting.png" "$GUI_OUT/question.png")" -gt 50 ] ||
  gui_fail "the yes button shows no count-down"
gui_wait_log "$log" '^answer yes$' 20
gui_wait_exit 30
echo "PASS: message box"
