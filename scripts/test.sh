#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both architectures, then runs every test of the
# x86_64 build under wine64 on a private prefix and an Xvfb display. Stops all it started, also on failure.
# Extra arguments go to ctest (for example -R Store).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/check-format.sh
scripts/build.sh all

. scripts/wine-session.sh
. scripts/wine-dpi.sh
trap 'wine_dpi_restore; wine_session_stop' EXIT
wine_session_start --xvfb

mkdir -p build/x86_64/artifacts
export MENDREL_ARTIFACTS="$root/build/x86_64/artifacts"
cd build/x86_64
status=0
ctest --output-on-failure -j "$(nproc)" --timeout 600 -LE dpi "$@" || status=$?

# The layout tests (label dpi) after the others, since the DPI is a setting of the whole prefix: once at 96 and
# once at 144 DPI, each on its own; the prefix gets its own setting back also when they fail.
wine_dpi_run_layout_tests "$@" || status=$?
exit "$status"
