#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, and only those that are missing.
# The programs are 32-bit: wine32 (architecture i386) runs them beside wine64, which runs the x86_64 build.
# fonts-wine: Wine's own Marlett (the glyphs of the caption buttons) and Tahoma (the dialog font).
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine64 wine32:i386 xvfb xauth imagemagick
  googletest python3 openssl curl nsis clang-format
  fonts-wine tinyproxy
)
# --bench: also what the benchmarks alone use, nginx as the loopback server of the window benchmark's waves.
if [ "${1:-}" = "--bench" ]; then
  packages+=(nginx-light)
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# wine32 is an i386 package: the architecture has to be known to dpkg before apt can find it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
