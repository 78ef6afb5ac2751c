#!/usr/bin/env bash
# What a small change to a big archive entry costs over the wire: the sample client at release 1
# with one more entry of SIZE MiB of random bytes (textures\delta\big.dds), release 2 the same with
# 1 % of that entry's bytes changed in 10 places (overwritten, inserted and removed in turns),
# both published into a private nginx; patcher-cli updates a copy of release 1. Prints the bytes
# nginx sent for the update against the entry's stored size, and checks the entry came out right.
#
#   bash bench/delta_update_bench.sh [BUILD_DIR] [SIZE_MIB]      (default build/native, 256)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
size_mib=${2:-256}
publish=$build/tools/publish/publish
pcktool=$build/tools/pcktool/pcktool
patcher=$build/tools/patcher-cli/patcher-cli
work=$build/delta-update-bench
entry='textures\delta\big.dds'

if [ "${SOLMERE_NGINX_ROOT:-}" = "" ]; then
  rm -rf "$work"
  mkdir -p "$work/run"
  "$publish" sample "$work/client1" 1 >/dev/null 2>>"$work/publish.log"
  size=$((size_mib * 1024 * 1024))
  head -c "$size" /dev/urandom >"$work/old.bin"
  # Ten pieces of the old entry, each with one edit of a tenth of 1 %.
  piece=$((size / 10))
  edit=$((size / 1000))
  : >"$work/new.bin"
  for i in $(seq 0 9); do
    start=$((i * piece))
    cut=$((piece / 2))
    dd if="$work/old.bin" bs=1M iflag=skip_bytes,count_bytes skip="$start" count="$cut" status=none >>"$work/new.bin"
    case $((i % 3)) in
      0) head -c "$edit" /dev/urandom >>"$work/new.bin"; skip=$edit ;;  # overwritten
      1) head -c "$edit" /dev/urandom >>"$work/new.bin"; skip=0 ;;      # inserted
      2) skip=$edit ;;                                                  # removed
    esac
    dd if="$work/old.bin" bs=1M iflag=skip_bytes,count_bytes skip=$((start + cut + skip)) \
      count=$((piece - cut - skip)) status=none >>"$work/new.bin"
  done
  "$pcktool" add "$work/client1/velkar/textures.pck" "$entry" "$work/old.bin" >/dev/null
  cp -r "$work/client1" "$work/client2"
  "$pcktool" add "$work/client2/velkar/textures.pck" "$entry" "$work/new.bin" >/dev/null
  SOLMERE_NGINX_INCLUDE=$root/tools/publish/nginx/solmere-update.conf \
    exec bash "$root/tests/support/with_nginx.sh" bash "$0" "$build" "$size_mib"
fi

"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client1/velkar" 1 >/dev/null 2>>"$work/publish.log"
"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client2/velkar" 2 >"$work/release2.txt" 2>>"$work/publish.log"

rm -rf "$work/client"
cp -r "$work/client1" "$work/client"
before=$(wc -l <"$SOLMERE_NGINX_ACCESS_LOG")
start=$(date +%s.%N)
(cd "$work/run" && "$patcher" --root "$work/client" --server "127.0.0.1:$SOLMERE_NGINX_PORT" --yes \
  >"$work/update.txt" 2>&1) || { echo "delta_update_bench: the update failed (see $work/update.txt)" >&2; exit 1; }
end=$(date +%s.%N)
# nginx writes a request's line once it is answered: the last one may take a moment.
sleep 1

stored=$("$pcktool" list "$work/client2/velkar/textures.pck" | entry=$entry awk -F'\t' '$1 == ENVIRON["entry"] { print $3 }')
new_md5=$(md5sum <"$work/new.bin" | cut -d' ' -f1)
got_md5=$("$pcktool" cat "$work/client/velkar/textures.pck" "$entry" | md5sum | cut -d' ' -f1)
[ "$new_md5" = "$got_md5" ] || { echo "delta_update_bench: the updated entry is not release 2's" >&2; exit 1; }
tail -n +$((before + 1)) "$SOLMERE_NGINX_ACCESS_LOG" | awk -v stored="$stored" -v secs="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" '
  { bytes = $NF; total += bytes; requests++ }
  # $4 is the request path ("\" may come escaped).
  $4 ~ /^\/chunks/ && $4 ~ /index/ { index_bytes += bytes }
  $4 ~ /^\/chunks/ && $4 !~ /index/ { chunk_bytes += bytes; chunks++ }
  $4 ~ /^\/files/ { whole += bytes }
  END {
    printf "entry stored size:   %d bytes\n", stored
    printf "chunk index:         %d bytes\n", index_bytes
    printf "chunks:              %d bytes in %d requests\n", chunk_bytes, chunks
    printf "whole files:         %d bytes\n", whole
    printf "update over the wire: %d bytes in %d requests, %.2f %% of the stored size, %.1f s\n",
      total, requests, 100 * total / stored, secs
  }'
