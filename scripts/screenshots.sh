#!/usr/bin/env bash
# Regenerates the pictures of the README's tour (docs/*.png): builds the x86_64 build, runs the layout tests
# (ctest label dpi) at 96 and at 144 DPI on the test prefix, and copies the window pictures they take.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/build.sh x86_64

. scripts/wine-session.sh
. scripts/wine-dpi.sh
trap 'wine_dpi_restore; wine_session_stop' EXIT
wine_session_start --xvfb

artifacts="$root/build/x86_64/artifacts"
mkdir -p "$artifacts" docs
export MENDREL_ARTIFACTS="$artifacts"
cd build/x86_64
wine_dpi_run_layout_tests
# The history column and a reboot followed to its end, from the status tests that make them (at 96 DPI).
ctest --output-on-failure \
  -R 'MainWindowStatus\.(HistoryColumnDrawsEachCheckAndTheTipFollowsTheMouse|RebootIsFollowedUntilTheServerAnswersAgain)$'
cd "$root"

# picture taken by a test -> picture of the tour; each is one window, stored with the fewest bytes.
pictures=(
  "remote-main-status-dpi96:remote-client-status.png"
  "remote-main-history:remote-client-history.png"
  "remote-reboot-rebooting:remote-client-rebooting.png"
  "remote-reboot-back:remote-client-back-after.png"
  "edit-server-dpi96:edit-server.png"
  "config-main-remote-dpi96:config-client-settings.png"
  "config-main-stress-test-dpi96:config-client-stress.png"
  "remote-main-status-dpi144:remote-client-status-144dpi.png"
  "config-main-remote-dpi144:config-client-settings-144dpi.png"
)
for pair in "${pictures[@]}"; do
  convert "$artifacts/${pair%%:*}.png" -strip -define png:compression-level=9 "docs/${pair#*:}"
  echo "docs/${pair#*:}"
done
