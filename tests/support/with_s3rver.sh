#!/usr/bin/env bash
# Runs a command beside a private S3-compatible server (s3rver, pinned in s3/package.json and
# package-lock.json): a free loopback port and an empty store in a fresh temporary folder,
# removed afterwards. s3rver is installed with "npm ci" into SOLMERE_S3RVER_MODULES (a folder of
# the build tree) when that folder lacks this lock file's install. The command learns through
# the environment:
#   SOLMERE_S3_PORT     the port on 127.0.0.1
#   SOLMERE_S3_KEY      the access key id and the secret key (s3rver takes the same for both)
# Usage: with_s3rver.sh command [args...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
modules=${SOLMERE_S3RVER_MODULES:?with_s3rver.sh: SOLMERE_S3RVER_MODULES names no folder for s3rver}
mkdir -p "$modules"
if ! cmp -s "$here/s3/package-lock.json" "$modules/package-lock.json" || [ ! -x "$modules/node_modules/.bin/s3rver" ]; then
  cp "$here/s3/package.json" "$here/s3/package-lock.json" "$modules/"
  if ! (cd "$modules" && timeout 600 npm ci --no-audit --no-fund --loglevel=error >&2); then
    echo "with_s3rver.sh: npm ci of s3rver failed in $modules" >&2
    exit 1
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/solmere-s3.XXXXXX")
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_server EXIT

started=
for _ in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  mkdir -p "$work/store"
  "$modules/node_modules/.bin/s3rver" --address 127.0.0.1 --port "$port" --directory "$work/store" --silent \
    >"$work/server.log" 2>&1 &
  server_pid=$!
  # Up within 30 seconds, or gone (the port was taken): then another port.
  for _ in $(seq 1 300); do
    if curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/"; then
      started=1
      break
    fi
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$started" ] && break
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=
done
if [ -z "$started" ]; then
  echo "with_s3rver.sh: s3rver did not answer on loopback within 30 seconds" >&2
  cat "$work/server.log" >&2 || true
  exit 1
fi

# rclone's S3 client fails on a custom CA bundle given its own transport; the server is plain
# http on loopback and needs none.
unset AWS_CA_BUNDLE
export SOLMERE_S3_PORT=$port
export SOLMERE_S3_KEY=S3RVER
set +e
"$@"
status=$?
set -e
exit $status
