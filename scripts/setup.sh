#!/usr/bin/env bash
# Installs every tool the build and the tests need, from Debian packages only.
# Idempotent: a second run finds everything in place and returns quickly.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

packages=(
  cmake ninja-build clang-format
  g++-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 xvfb xauth
  libgl1-mesa-dri:i386 libgl1:i386 libglx-mesa0:i386
  googletest libbenchmark-dev
  libcapstone-dev libsquish-dev libssl-dev imagemagick
  clang libclang-rt-14-dev
  qemu-user-static gcc-multilib
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "setup: all packages present"
