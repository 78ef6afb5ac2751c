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

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
work=$(mktemp -d "${TMPDIR:-/tmp}/solmere-nginx.XXXXXX")
chmod 755 "$work"
mkdir -p "$work/root" "$work/temp"

stop_nginx() {
  if [ -s "$work/nginx.pid" ]; then
    local pid
    pid=$(cat "$work/nginx.pid")
    kill -TERM "$pid" 2>/dev/null || true
    # nginx removes its pid file as it exits; the process itself can linger as a
    # zombie until init reaps it, so "kill -0" would wait for nothing.
    for _ in $(seq 1 200); do
      [ -e "$work/nginx.pid" ] || break
      sleep 0.02
    done
  fi
  rm -rf "$work"
}
trap stop_nginx EXIT

started=
for _ in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  cat >"$work/nginx.conf" <<CONF
$( [ "$(id -u)" -eq 0 ] && echo "user root;" )
worker_processes 1;
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  log_format wire '\$connection \$connection_requests "\$request" \$status \$body_bytes_sent';
  access_log $work/access.log wire;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  # One connection carries every request of a test run or benchmark.
  keepalive_requests 1000000;
  keepalive_timeout 300s;
  server {
    listen 127.0.0.1:$port;
    root $work/root;
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
