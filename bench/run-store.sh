#!/usr/bin/env bash
# Runs the settings store benchmark under wine64 and prints its figures (also into $MENDREL_ARTIFACTS when
# set). Builds build/x86_64 first. Starts its own Wine session and stops it.
# Usage: bench/run-store.sh [items...]   (default 10000 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --build build/x86_64 -j2 --target store_bench >/dev/null

. scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start >/dev/null

out=$("$WINE64" build/x86_64/bench/store_bench.exe "$@" | tr -d '\r')
echo "$out"
if [ -n "${MENDREL_ARTIFACTS:-}" ]; then
  mkdir -p "$MENDREL_ARTIFACTS"
  echo "$out" > "$MENDREL_ARTIFACTS/store_bench.txt"
fi
