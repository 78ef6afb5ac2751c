#!/usr/bin/env bash
# launcher.exe, end to end: started from another working folder it starts
# launcher\launcher.exe below that folder (not below its own) and ends at once, while the
# program it started goes on.
#   launcher_test.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/../../ui/gui_harness.sh"
source "$(dirname "$0")/patcher_harness.sh"
patcher_init "$1" "$2"

work=$GUI_OUT/client-root
mkdir -p "$work/launcher" "$GUI_OUT/elsewhere/launcher"
cp "$stand_in_exe" "$work/launcher/launcher.exe"
printf 20 >"$work/launcher/launcher.exe.linger"
# A launcher program below the stub's own folder must not be the one started.
cp "$launcher_exe" "$GUI_OUT/elsewhere/launcher.exe"
cp "$stand_in_exe" "$GUI_OUT/elsewhere/launcher/launcher.exe"

started=$SECONDS
status=0
(cd "$work" && timeout 60 "$wine_run" "$(win_path "$GUI_OUT/elsewhere/launcher.exe")" </dev/null \
  >"$GUI_OUT/launcher-output.txt" 2>&1) || status=$?
[ "$status" = 0 ] || gui_fail "launcher.exe ended with $status"
record=$work/launcher/launcher.exe.record
deadline=$((SECONDS + 20))
until grep -q '^folder: ' "$record" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || gui_fail "launcher\\launcher.exe below the working folder was not started"
  sleep 0.1
done
! grep -q '^ended$' "$record" || gui_fail "launcher.exe waited for the program it started"
echo "launcher.exe ended after $((SECONDS - started)) s; the program it started is still running"
grep -q "^folder: $(win_path "$work" | sed 's/\\/\\\\/g')\$" "$record" || gui_fail "the program ran in another folder: $(cat "$record")"
[ ! -e "$GUI_OUT/elsewhere/launcher/launcher.exe.record" ] || gui_fail "the launcher program beside the stub was started"
echo "PASS: launcher stub"
