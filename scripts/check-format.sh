#!/usr/bin/env bash
# Fails when a C++ file does not follow .clang-format. With --fix, formats the files in place.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done
if [ $bad -ne 0 ]; then
  echo "Run scripts/check-format.sh --fix to format them."
  exit 1
fi
echo "Formatting: all ${#files[@]} C++ files follow .clang-format"
