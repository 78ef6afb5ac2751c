#!/usr/bin/env bash
# A look at the product without Windows: the real patcher.exe under Wine on a private Xvfb,
# in a sample client at release 1, against a private nginx serving the sample server at
# release 2 (both made by publish). It photographs each state the window passes through and
# leaves the pictures in <build>/patcher-tour/:
#   1-start.png     start-up ("Подготовка к запуску...")
#   2-offer.png     the update offer with its count-down
#   3-download.png  the download with its progress and speed
#   4-ready.png     "Клиент готов к запуску"
# Needs patcher, publish and pcktool built in the win64 build:
#
#   bash scripts/patcher-tour.sh [BUILD_DIR]      (default build/win64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
out=$build/patcher-tour
# A private X server, never the desktop's: the test run's own (scripts/test.sh), or one the
# harness starts.
[ -n "${SOLMERE_RUN_DISPLAY:-}" ] && [ "${DISPLAY:-}" = "$SOLMERE_RUN_DISPLAY" ] || unset DISPLAY
bash "$root/tests/app/gui/update_test.sh" "$build" "$out"
echo
for shot in "$out"/[1-4]-*.png; do
  echo "screenshot: $shot"
done
