#!/usr/bin/env bash
# What signing costs an update: the built-in sample's update (a client at release 1, the server
# at release 2, served by a private nginx) run with and without the operator's key, in turns,
# each on a fresh copy of the client; prints the median wall time of each and their difference.
#
#   bash bench/signed_update_bench.sh [BUILD_DIR] [ROUNDS]      (default build/native, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
rounds=${2:-5}
publish=$build/tools/publish/publish
patcher=$build/tools/patcher-cli/patcher-cli
work=$build/signed-update-bench

if [ "${SOLMERE_NGINX_ROOT:-}" = "" ]; then
  rm -rf "$work"
  mkdir -p "$work/run"
  "$publish" sample "$work/client1" 1 >/dev/null 2>>"$work/publish.log"
  "$publish" sample "$work/client2" 2 >/dev/null 2>>"$work/publish.log"
  SOLMERE_NGINX_INCLUDE=$root/tools/publish/nginx/solmere-update.conf \
    exec bash "$root/tests/support/with_nginx.sh" bash "$0" "$build" "$rounds"
fi

key=$("$publish" keygen "$work/release.key" 2>/dev/null)
"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client1/velkar" 1 >/dev/null 2>>"$work/publish.log"
"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client2/velkar" 2 --sign "$work/release.key" \
  >/dev/null 2>>"$work/publish.log"

# One update of a fresh client; prints its wall time in seconds.
update() {
  rm -rf "$work/client" "$work/run/log.txt"
  cp -r "$work/client1" "$work/client"
  local start end
  start=$(date +%s.%N)
  (cd "$work/run" && "$patcher" --root "$work/client" --server "127.0.0.1:$SOLMERE_NGINX_PORT" --yes "$@" \
    >/dev/null 2>&1) || { echo "signed_update_bench: an update failed" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

plain=()
signed=()
for _ in $(seq 1 "$rounds"); do
  plain+=("$(update)")
  signed+=("$(update --release-key "$key")")
done
p=$(printf '%s\n' "${plain[@]}" | median)
s=$(printf '%s\n' "${signed[@]}" | median)
echo "unsigned update: median $p s over $rounds runs (${plain[*]})"
echo "signed update:   median $s s over $rounds runs (${signed[*]})"
awk -v p="$p" -v s="$s" 'BEGIN { printf "signing adds:    %.1f ms\n", (s - p) * 1000 }'
