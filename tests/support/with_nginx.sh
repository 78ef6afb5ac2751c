#!/usr/bin/env bash
# Runs a command beside a private nginx: a free loopback port, an empty document root
# and every file nginx writes (pid, logs, temp) in a fresh temporary folder, which is
# removed afterwards. The command learns where through the environment:
#   SOLMERE_NGINX_PORT        the port on 127.0.0.1
#   SOLMERE_NGINX_ROOT        the document root (Linux path), for the command to fill
#   SOLMERE_NGINX_ACCESS_LOG  one line per request: connection serial, request number on
#                             that connection, "request line", status, body bytes
# The command may be a Windows program run through scripts/wine-run.sh: nginx runs on
# the Linux side either way. Usage: with_nginx.sh command [args...]
# With SOLMERE_NGINX_INCLUDE set, that configuration file is included in the server block.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/private_nginx.sh"
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
work=$(mktemp -d "${TMPDIR:-/tmp}/solmere-nginx.XXXXXX")
chmod 755 "$work"
mkdir -p "$work/root" "$work/temp"

stop_nginx() {
  private_nginx_stop "$work"
  rm -rf "$work"
}
trap stop_nginx EXIT

started=
for _ in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  cat >"$work/nginx.conf" <<CONF
$(private_nginx_main "$work" 256)
http {
  log_format wire '\$connection \$connection_requests "\$request" \$status \$body_bytes_sent';
  access_log $work/access.log wire;
$(private_nginx_temp_paths "$work")
  default_type application/octet-stream;
  sendfile on;
  # One connection carries every request of a test run or benchmark.
  keepalive_requests 1000000;
  keepalive_timeout 300s;
  server {
    listen 127.0.0.1:$port;
    root $work/root;
    # Downloads under /slow/ last long enough to be interrupted.
    location /slow/ {
      # In small pieces: with sendfile, nginx sends a second's worth at once.
      sendfile off;
      output_buffers 1 16k;
      limit_rate 2m;
    }
    # So do the stored files under files/slow/, whichever separator the request uses.
    location ~ ^/files.slow. {
      sendfile off;
      output_buffers 1 16k;
      limit_rate 2m;
    }
$( [ -n "${SOLMERE_NGINX_INCLUDE:-}" ] && echo "    include $SOLMERE_NGINX_INCLUDE;" )
  }
}
CONF
  if "$nginx_bin" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" 2>/dev/null; then
    started=1
    break
  fi
done
if [ -z "$started" ]; then
  echo "with_nginx.sh: nginx did not start" >&2
  cat "$work/error.log" >&2 || true
  exit 1
fi

export SOLMERE_NGINX_PORT=$port
export SOLMERE_NGINX_ROOT=$work/root
export SOLMERE_NGINX_ACCESS_LOG=$work/access.log
set +e
"$@"
status=$?
set -e
exit $status
