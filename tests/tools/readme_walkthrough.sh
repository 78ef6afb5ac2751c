#!/usr/bin/env bash
# The README's operator section, run as an operator would from a fresh folder: every sh block of
# "Running an update server (operators)", in order and as written, but for what cannot be the
# same on a test machine: the paths (/srv, /tmp, /etc/nginx, build/native, the home folder ~/)
# move into a folder of the run's own, "sudo" goes, the server listens on a free loopback port
# instead of port 80 of updates.example.com, and nginx is a private instance with a main
# configuration like Debian's (it reads every site in etc/nginx/sites-enabled). Fails when a
# command fails, or when the client of release 1 did not end at release 2.
#
#   readme_walkthrough.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
readme=$source_dir/README.md
source "$(dirname "${BASH_SOURCE[0]}")/../support/private_nginx.sh"
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
work=$(mktemp -d "${TMPDIR:-/tmp}/solmere-readme.XXXXXX")
chmod 755 "$work"
conf=$work/etc/nginx/nginx.conf
prefix=$work/nginx

stop_nginx() {
  private_nginx_stop "$prefix"
  rm -rf "$work"
}
trap stop_nginx EXIT

fail() {
  echo "readme_walkthrough: $*" >&2
  exit 1
}

# The section's sh blocks.
commands=$(awk '
  /^## / { in_section = ($0 == "## Running an update server (operators)") }
  in_section && /^```/ { if (in_block) { in_block = 0 } else if ($0 == "```sh") { in_block = 1 }; next }
  in_section && in_block { print }
' "$readme")
[ -n "$commands" ] || fail "no sh block in the operator section of $readme"
for expected in " release " "nginx -s reload" "patcher-cli" " keygen " "--release-key"; do
  grep -q -- "$expected" <<<"$commands" || fail "the operator section no longer shows \"$expected\""
done

# A loopback port nobody listens on.
port=
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 40000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || fail "no free port"

# nginx as installed, but private: the main configuration includes the sites, none yet.
mkdir -p "$work/etc/nginx/snippets" "$work/etc/nginx/sites-enabled" "$prefix/temp" "$work/run" "$work/tmp" "$work/srv" \
  "$work/home"
cat >"$conf" <<CONF
$(private_nginx_main "$prefix" 64)
http {
  access_log $prefix/access.log;
$(private_nginx_temp_paths "$prefix")
  default_type application/octet-stream;
  include $work/etc/nginx/sites-enabled/*;
}
CONF
"$nginx_bin" -p "$prefix" -c "$conf" || fail "nginx did not start: $(cat "$prefix/error.log" 2>/dev/null)"

# Paths first, so that the run's own folder (under /tmp) is never rewritten again.
script=$work/walkthrough.sh
{
  echo "set -euxo pipefail"
  sed -e "s#/tmp/#$work/tmp/#g" \
      -e "s#/srv/#$work/srv/#g" \
      -e "s#build/native/#$build_dir/#g" \
      -e "s#tools/publish/nginx/#$source_dir/tools/publish/nginx/#g" \
      -e "s#/etc/nginx/#$work/etc/nginx/#g" \
      -e "s#~/#$work/home/#g" \
      -e "s#sudo ##g" \
      -e "s#updates\.example\.com:80#127.0.0.1:$port#g" \
      -e "s#updates\.example\.com#127.0.0.1#g" \
      -e "s#listen 80;#listen 127.0.0.1:$port;#g" \
      -e "s#nginx -\([ts]\)#$nginx_bin -p $prefix -c $conf -\1#g" <<<"$commands"
} >"$script"

cd "$work/run"
if ! timeout 900 bash "$script"; then
  echo "the commands as run:" >&2
  cat "$script" >&2
  fail "a command of the README failed"
fi

version=$(cat "$work/tmp/client1/config/velkar/version.sw")
[ "$version" = 2 ] || fail "the client of release 1 is at version $version after the update, not 2"
grep -q '"GET /version ' "$prefix/access.log" || fail "the update never reached the installed server"
echo "readme_walkthrough: the operator section ran as written; the client is at release 2"
