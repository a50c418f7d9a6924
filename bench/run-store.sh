#!/usr/bin/env bash
# Runs the settings store benchmark and prints its figures (also into $MENDREL_ARTIFACTS when set). Builds
# it first. Starts its own Wine session and stops it. MENDREL_BENCH_ARCH=i686 runs the 32-bit build under the
# 32-bit loader instead of the x86_64 build under wine64.
# Usage: bench/run-store.sh [items...]   (default 10000 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

arch=${MENDREL_BENCH_ARCH:-x86_64}
[ -d "build/$arch" ] || scripts/build.sh "$arch" >/dev/null
cmake --build "build/$arch" -j2 --target store_bench >/dev/null

. scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start >/dev/null

out=$("$(wine_loader "$arch")" "build/$arch/bench/store_bench.exe" "$@" | tr -d '\r')
echo "$out"
if [ -n "${MENDREL_ARTIFACTS:-}" ]; then
  mkdir -p "$MENDREL_ARTIFACTS"
  echo "$out" > "$MENDREL_ARTIFACTS/store_bench.txt"
fi
