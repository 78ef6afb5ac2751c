#!/usr/bin/env bash
# The shipping folder: builds the 32-bit release of patcher.exe, launcher.exe and the launcher
# program launcher/Launcher.exe, and lays out
# what an operator copies into a client root, plus a zip of the same files:
#
#   <build>/ship/solmere-classic-updater/      patcher/patcher.exe, patcher/skin/..., launcher.exe,
#                                              launcher/Launcher.exe, launcher/skin/...
#   <build>/ship/solmere-classic-updater.zip   the same, to be unpacked in the client root
#
#   bash scripts/ship.sh [BUILD_DIR]     (default build/win32, configured with the win32 preset)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win32}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset win32 -B "$build" >/dev/null
fi
build=$(cd "$build" && pwd)
cmake --build "$build" -j2 --target patcher launcher launcher_program default_skin

name=solmere-classic-updater
ship=$build/ship
out=$ship/$name
rm -rf "$out" "$ship/$name.zip"
mkdir -p "$out/patcher/skin" "$out/launcher/skin"
cp "$build/src/app/win32/patcher.exe" "$out/patcher/"
cp "$build/src/launcher/launcher.exe" "$out/"
cp "$build/src/app/win32/Launcher.exe" "$out/launcher/"
cp "$build"/skin/*.xml "$build"/skin/*.png "$out/patcher/skin/"
cp "$build"/skin/*.xml "$build"/skin/*.png "$out/launcher/skin/"
# Entries in a fixed order, without extra attributes: the same files give the same zip layout.
(cd "$out" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -q -X -@ "$ship/$name.zip")

# What an operator gets: both programs 32-bit Windows programs, the skin complete.
machine() {
  # The PE header's offset is at 0x3c; the machine field follows the "PE\0\0" signature.
  local offset
  offset=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j $((offset + 4)) -N2 "$1" | tr -d ' '
}
for program in "$out/patcher/patcher.exe" "$out/launcher.exe" "$out/launcher/Launcher.exe"; do
  [ "$(machine "$program")" = 014c ] || { echo "ship.sh: $program is not a 32-bit (i386) program" >&2; exit 1; }
done
for skin_file in mainuni.xml mbtuni.xml main_background.png mb_background.png; do
  [ -f "$out/patcher/skin/$skin_file" ] || { echo "ship.sh: the skin lacks $skin_file" >&2; exit 1; }
done
for skin_file in launcher.xml mbtuni.xml launcher_background.png mb_background.png; do
  [ -f "$out/launcher/skin/$skin_file" ] || { echo "ship.sh: the launcher's skin lacks $skin_file" >&2; exit 1; }
done
listed=$(unzip -Z1 "$ship/$name.zip")
for entry in patcher/patcher.exe launcher.exe patcher/skin/mainuni.xml patcher/skin/mbtuni.xml launcher/Launcher.exe \
  launcher/skin/launcher.xml; do
  grep -qx "$entry" <<<"$listed" || { echo "ship.sh: the zip lacks $entry" >&2; exit 1; }
done

echo "shipping folder: $out ($(find "$out" -type f | wc -l) files)"
echo "zip:             $ship/$name.zip ($(stat -c %s "$ship/$name.zip") bytes)"
