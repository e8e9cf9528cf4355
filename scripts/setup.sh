#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail

packages=(cmake make g++ pkg-config git libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev libmodbus-dev libtomlplusplus-dev libcli11-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
  clang libclang-rt-dev libcpp-httplib-dev nlohmann-json3-dev chromium fonts-noto-cjk nodejs
  doxygen ccache)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
