#!/usr/bin/env bash
# Runs a command with a small file system of its own, to fill up: a tmpfs of
# SOLMERE_SMALL_DISK_MB MiB (default 4) mounted on a fresh temporary folder, unmounted and
# removed afterwards. The command learns where through SOLMERE_SMALL_DISK (a Linux path;
# a Windows program under Wine sees it on drive Z:). Mounting needs root.
# Usage: with_small_disk.sh command [args...]
set -euo pipefail

size=${SOLMERE_SMALL_DISK_MB:-4}
disk=$(mktemp -d "${TMPDIR:-/tmp}/solmere-disk.XXXXXX")
mounted=
cleanup() {
  if [ -n "$mounted" ]; then
    umount "$disk" 2>/dev/null || umount -l "$disk" 2>/dev/null || true
  fi
  rmdir "$disk" 2>/dev/null || true
}
trap cleanup EXIT

if ! mount -t tmpfs -o "size=${size}m,mode=0755" tmpfs "$disk"; then
  echo "with_small_disk.sh: cannot mount a ${size} MiB tmpfs on $disk (this needs root)" >&2
  exit 1
fi
mounted=1

export SOLMERE_SMALL_DISK=$disk
set +e
"$@"
status=$?
set -e
exit $status
