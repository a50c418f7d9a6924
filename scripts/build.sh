#!/usr/bin/env bash
# Builds both architectures, each with its tests and benchmarks: build/i686 (the deliverable 32-bit programs)
# and build/x86_64.
# Usage: scripts/build.sh [i686|x86_64|all]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
# At most two jobs: the build machines are small and shared.
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

build_one() {
  local arch=$1; shift
  local dir="$root/build/$arch"
  # Configured every time: folders that appear since the last run are found by the configure step only.
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# One setup exe for the programs of an architecture, once both exist: build/i686/MendrelSetup.exe is the
# deliverable; build/x86_64/MendrelSetup.exe, a 64-bit setup of the x86_64 programs, is what the x86_64 run of
# the installer test installs.
build_installer() {
  local arch=$1
  local dir="$root/build/$arch"
  local target=()
  [ "$arch" = x86_64 ] && target=(-DTARGET_AMD64)
  if [ -f "$dir/remote_client/MendrelRemoteClient.exe" ] && [ -f "$dir/config_client/MendrelClient.exe" ]; then
    mkdir -p "$dir/setup"
    cp "$dir/remote_client/MendrelRemoteClient.exe" "$dir/config_client/MendrelClient.exe" "$dir/setup/"
    makensis -V2 "${target[@]}" -DBUILD_DIR="$dir/setup" -DOUT_FILE="$dir/MendrelSetup.exe" "$root/installer/Mendrel.nsi"
    echo "Installer: $dir/MendrelSetup.exe"
  fi
}

case "$which" in
  i686) build_one i686; build_installer i686 ;;
  x86_64) build_one x86_64; build_installer x86_64 ;;
  all)
    build_one x86_64
    build_installer x86_64
    build_one i686
    build_installer i686
    ;;
  *) echo "usage: $0 [i686|x86_64|all]" >&2; exit 2 ;;
esac
