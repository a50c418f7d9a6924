#!/usr/bin/env bash
# Builds both architectures: build/i686 (the deliverable 32-bit programs) and build/x86_64 (the tested build).
# Usage: scripts/build.sh [i686|x86_64|all]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
jobs=$(nproc)

build_one() {
  local arch=$1; shift
  local dir="$root/build/$arch"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs"
}

case "$which" in
  i686) build_one i686 -DMENDREL_BUILD_TESTS=OFF -DMENDREL_BUILD_BENCH=OFF ;;
  x86_64) build_one x86_64 ;;
  all)
    build_one x86_64
    build_one i686 -DMENDREL_BUILD_TESTS=OFF -DMENDREL_BUILD_BENCH=OFF
    ;;
  *) echo "usage: $0 [i686|x86_64|all]" >&2; exit 2 ;;
esac
