#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers and the benchmarks need.
# Idempotent: a second run installs nothing and finishes in seconds.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates ccache
  zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libtinyxml2-dev libsodium-dev autoconf automake libtool
  clang clang-format libclang-rt-14-dev libfuzzer-14-dev
  wine wine64 xvfb xauth
  xdotool x11-apps imagemagick fonts-dejavu-core fonts-liberation dpkg-dev
  nginx-light curl zip unzip
  rclone
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js and npm run the tests' S3 server (tests/support/s3). A Node.js of another source that
# brings its own npm serves as well: Debian's npm would not install beside it.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq >&2
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The MinGW builds link with the POSIX thread model (std::thread, std::mutex).
for arch in x86_64 i686; do
  for tool in gcc g++; do
    alt=$(update-alternatives --list "$arch-w64-mingw32-$tool" 2>/dev/null | grep posix || true)
    if [ -n "$alt" ] && [ "$(readlink -f "/usr/bin/$arch-w64-mingw32-$tool")" != "$(readlink -f "$alt")" ]; then
      update-alternatives --set "$arch-w64-mingw32-$tool" "$alt" >/dev/null
    fi
  done
done

# Commands that write outside the home folder: through sudo unless this is root.
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# fetch_source PACKAGE MARKER: Debian's source package unpacked into a new temporary folder
# (printed on stdout, for the caller to remove), its tree being where MARKER lies. deb-src is
# added to the package sources once.
fetch_source() {
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/solmere-deb-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  "${sudo_cmd[@]}" apt-get update -qq >&2
  local work
  work=$(mktemp -d)
  # _apt cannot write into a private temporary folder; the download then runs as the caller.
  chmod 755 "$work"
  (cd "$work" && "${sudo_cmd[@]}" apt-get source -qq "$1" >/dev/null 2>&1)
  if [ -z "$(find "$work" -mindepth 2 -maxdepth 2 -name "$2" -print -quit)" ]; then
    echo "setup.sh: apt-get source $1 gave no $2" >&2
    exit 1
  fi
  echo "$work"
}

# The unpacked tree of a source package fetch_source unpacked into `work`.
source_tree() {
  find "$1" -mindepth 2 -maxdepth 2 -name "$2" -printf '%h\n' | head -n 1
}

# tinyxml2 for the MinGW builds: Debian's own source package, unpacked outside the repository
# at a fixed place that CMake looks in (cmake/Tinyxml2.cmake); native builds use libtinyxml2-dev.
tinyxml2_source=/usr/local/src/solmere/tinyxml2
if [ ! -f "$tinyxml2_source/tinyxml2.cpp" ]; then
  work=$(fetch_source tinyxml2 tinyxml2.cpp)
  "${sudo_cmd[@]}" mkdir -p "$(dirname "$tinyxml2_source")"
  "${sudo_cmd[@]}" rm -rf "$tinyxml2_source"
  "${sudo_cmd[@]}" cp -r "$(source_tree "$work" tinyxml2.cpp)" "$tinyxml2_source"
  "${sudo_cmd[@]}" rm -rf "$work"
fi

# libsodium for the MinGW builds: Debian's source package, built once per Windows target into
# a fixed prefix outside the repository that CMake looks in (cmake/Sodium.cmake); native builds
# use libsodium-dev. The minimal build holds what is used: Ed25519 signatures and SHA-256.
sodium_prefix=/usr/local/lib/solmere
for host in x86_64-w64-mingw32 i686-w64-mingw32; do
  [ -f "$sodium_prefix/sodium-$host/lib/libsodium.a" ] && continue
  work=$(fetch_source libsodium configure.ac)
  (cd "$(source_tree "$work" configure.ac)" && "${sudo_cmd[@]}" ./autogen.sh -s >"$work/autogen.log" 2>&1 &&
    "${sudo_cmd[@]}" ./configure --host="$host" --disable-shared --enable-static --enable-minimal \
      --prefix="$sodium_prefix/sodium-$host" >"$work/configure.log" 2>&1 &&
    "${sudo_cmd[@]}" make -j"$(nproc)" >"$work/make.log" 2>&1 &&
    "${sudo_cmd[@]}" make install >"$work/install.log" 2>&1) || {
    echo "setup.sh: building libsodium for $host failed; see $work" >&2
    exit 1
  }
  "${sudo_cmd[@]}" rm -rf "$work"
done
