#!/usr/bin/env bash
# The console updater's whole job on a made-up client: publish makes a client at release 1
# and a server tree at release 2, nginx serves the tree on loopback, and patcher-cli brings
# the client up to date. Prints what the update took. Needs publish and patcher-cli built:
#
#   bash tools/patcher-cli/sample-update.sh [BUILD_DIR]      (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
publish=$build/tools/publish/publish
patcher=$build/tools/patcher-cli/patcher-cli
work=$build/sample-update

if [ "${SOLMERE_NGINX_ROOT:-}" = "" ]; then
  rm -rf "$work"
  mkdir -p "$work/run"
  "$publish" sample "$work/client1" 1 >/dev/null 2>>"$work/publish.log"
  "$publish" sample "$work/client2" 2 >/dev/null 2>>"$work/publish.log"
  # Again beside a private nginx that serves the tree with publish's configuration.
  SOLMERE_NGINX_INCLUDE=$root/tools/publish/nginx/solmere-update.conf \
    exec bash "$root/tests/support/with_nginx.sh" bash "$0" "$build"
fi

# publish reports each archive on stderr: kept in a file of its own.
"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client1/velkar" 1 >/dev/null 2>>"$work/publish.log"
"$publish" release "$SOLMERE_NGINX_ROOT" "$work/client2/velkar" 2 >/dev/null 2>>"$work/publish.log"
requests_before=$(wc -l <"$SOLMERE_NGINX_ACCESS_LOG")

cd "$work/run"
start=$(date +%s.%N)
status=0
"$patcher" --root "$work/client1" --server "127.0.0.1:$SOLMERE_NGINX_PORT" --yes || status=$?
end=$(date +%s.%N)

# What the updater asked for: the list it checked against, the files it fetched, the bytes.
requests=$(tail -n +"$((requests_before + 1))" "$SOLMERE_NGINX_ACCESS_LOG")
list=$(grep -o '"GET /\(list_[0-9]*\|fulllist\) ' <<<"$requests" | head -n 1 | sed 's/"GET \/\(.*\) /\1/' || true)
checked=0
if [ -n "$list" ]; then
  offset=0
  [ "$list" = fulllist ] && offset=4
  checked=$(od -An -tu4 -j "$offset" -N4 "$SOLMERE_NGINX_ROOT/$list" | tr -d ' ')
fi
downloaded=$(grep -c '"GET /files[/\\].* 200 ' <<<"$requests" || true)
bytes=$(awk '{ sum += $NF } END { print sum + 0 }' <<<"$requests")
echo
echo "patcher-cli exit status: $status (0: the client is ready to play)"
echo "files checked:    $checked (${list:-no list})"
echo "files downloaded: $downloaded"
echo "bytes received:   $bytes"
echo "time:             $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f s", b - a }')"
echo "log:              $work/run/log.txt"
exit "$status"
