#!/bin/bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks (run as root on Debian). Quiet when nothing is missing.
set -euo pipefail
packages=(cmake ninja-build g++ googletest python3
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
          wine wine64 xvfb
          lame ffmpeg mpg123 mediainfo time clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
