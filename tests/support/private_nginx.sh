# A private nginx for tests, sourced by the scripts that run one (with_nginx.sh,
# readme_walkthrough.sh): the parts of its configuration that put everything nginx writes
# under one folder, and its stop.

# private_nginx_main PREFIX CONNECTIONS: the main context; the pid file and the error log
# live in PREFIX.
private_nginx_main() {
  local prefix=$1 connections=$2
  if [ "$(id -u)" -eq 0 ]; then echo "user root;"; fi
  cat <<CONF
worker_processes 1;
daemon on;
pid $prefix/nginx.pid;
error_log $prefix/error.log;
events { worker_connections $connections; }
CONF
}

# private_nginx_temp_paths PREFIX: the http context's temporary folders, in PREFIX/temp.
private_nginx_temp_paths() {
  local prefix=$1
  cat <<CONF
  client_body_temp_path $prefix/temp/body;
  proxy_temp_path $prefix/temp/proxy;
  fastcgi_temp_path $prefix/temp/fastcgi;
  uwsgi_temp_path $prefix/temp/uwsgi;
  scgi_temp_path $prefix/temp/scgi;
CONF
}

# private_nginx_stop PREFIX: ends the nginx whose pid file is in PREFIX, waiting 4 s at most.
private_nginx_stop() {
  local prefix=$1
  [ -s "$prefix/nginx.pid" ] || return 0
  kill -TERM "$(cat "$prefix/nginx.pid")" 2>/dev/null || true
  # nginx removes its pid file as it exits; the process itself can linger as a zombie until
  # init reaps it, so "kill -0" would wait for nothing.
  for _ in $(seq 1 200); do
    [ -e "$prefix/nginx.pid" ] || return 0
    sleep 0.02
  done
}
