#!/usr/bin/env bash
# Installs, only when missing, every Debian package that building, testing and benchmarking need.
set -euo pipefail

packages=(
  build-essential cmake make python3 git
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  lzma-dev liblzma-dev xz-utils 7zip
  googletest libgtest-dev
  fonts-dejavu-core
  clang-14 libclang-rt-14-dev llvm-14
  wine wine64 wine32:i386
  # Where the kernel has its 32-bit support switched off, 32-bit Wine runs
  # under qemu-user, with a small preload built by gcc -m32 (scripts/ia32-setup).
  qemu-user-static gcc-multilib
  pkg-config binutils file time
  # Authenticode signing of launchers (scripts/sign-launcher) and the tests of it.
  osslsigncode openssl
)

missing=()
need_i386=0
if ! dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
  need_i386=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ]; then
  exit 0
fi

if [ ! -f /etc/debian_version ] || [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing packages: ${missing[*]:-none}" >&2
  [ "$need_i386" = 1 ] && echo "install-deps: the i386 architecture is not enabled (dpkg --add-architecture i386)" >&2
  echo "install-deps: run this script as root on Debian 12 to install them." >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$need_i386" = 1 ]; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
