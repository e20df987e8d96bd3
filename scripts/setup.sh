#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need.
# Idempotent and quick when everything is already there: it asks dpkg first
# and runs apt-get only for what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb xauth x11-utils
  gcc-multilib g++-multilib
  imagemagick
  clang libclang-rt-14-dev
  libbenchmark-dev googletest
  time
)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_ dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  st=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$st" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_ apt-get update -qq
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [ -n "${need_update:-}" ]; then
  sudo_ apt-get update -qq
fi
echo "setup: all build and test packages present"
