#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers and the benchmarks need.
# Idempotent: a second run installs nothing and finishes in seconds.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libtinyxml2-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  wine wine64 xvfb xauth
  nginx-light curl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
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
