#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the win64 preset's emulator): quiet, with no
# add-on installer prompts, in a Wine prefix inside build/ instead of the user's ~/.wine.
# scripts/test.sh sets WINEPREFIX and an Xvfb DISPLAY for its run; without a DISPLAY the
# program runs under xvfb-run so that nothing ever opens on a desktop or fails for want of one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# Mono (mscoree) and Gecko (mshtml) would be offered as downloads when the prefix is made;
# nothing here needs them. winemenubuilder would write desktop menu entries for the prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}

x_wrap=()
if [ -z "${DISPLAY:-}" ]; then
  x_wrap=(xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -nolisten tcp")
fi

# Tests started side by side must not both make the prefix: the first makes it, the rest wait.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # About 20 s once; a prefix that is not ready by then will not become ready.
  if ! timeout 300 "${x_wrap[@]}" wineboot --init </dev/null >"$WINEPREFIX.init.log" 2>&1; then
    echo "wine-run.sh: wineboot --init failed or hung; see $WINEPREFIX.init.log" >&2
    exit 125
  fi
  timeout 60 wineserver -w || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run.sh: wineboot made no prefix in $WINEPREFIX; see $WINEPREFIX.init.log" >&2
    exit 125
  fi
fi
exec 9>&-

exec "${x_wrap[@]}" wine "$@"
