#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both architectures, then runs every test of the
# x86_64 build under wine64 and every test of the i686 build under the 32-bit loader, one after the other, on
# one private 64-bit prefix (WoW64 runs the 32-bit programs in it) with one persistent wineserver and an Xvfb
# display. Stops all it started, also on failure; fails when either run fails.
# Extra arguments go to ctest (for example -R Store). MENDREL_TEST_ARCHS="i686" runs one build only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
archs=${MENDREL_TEST_ARCHS:-x86_64 i686}

scripts/install-deps.sh
scripts/check-format.sh
scripts/build.sh all

. scripts/wine-session.sh
. scripts/wine-dpi.sh

# The loopback test servers that the ctest fixtures start end at the end of their run, or after their lifetime;
# a run that is interrupted stops them here, with the wineserver and the display. A signal ends the command
# (and runs this) also while ctest runs: ctest runs in the background and the command waits for it.
ctest_pid=""
stop_test_servers() {
  local ports
  for ports in "$root"/build/*/tests/*/test-servers/ports.txt; do
    [ -f "$ports" ] && python3 "$root/tests/servers/launch.py" stop "$(dirname "$ports")" >/dev/null 2>&1
  done
  return 0
}
stop_all() {
  [ -n "$ctest_pid" ] && kill "$ctest_pid" 2>/dev/null
  stop_test_servers
  wine_dpi_restore
  wine_session_stop
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
wine_session_start --xvfb

# One build's whole suite in its own folder: ctest runs its programs through the build's own loader (the
# toolchain's CMAKE_CROSSCOMPILING_EMULATOR), and the e2e scenarios start the exes of that folder.
run_suite() {
  local arch=$1 status=0 start
  start=$(date +%s)
  echo
  echo "==== $arch build, under $(wine_loader "$arch") ===="
  mkdir -p "build/$arch/artifacts"
  export MENDREL_ARTIFACTS="$root/build/$arch/artifacts"
  pushd "build/$arch" >/dev/null
  # A test that times out runs once more: under load Wine has hung a test process now and then (a test of a few
  # references, no thread, no window, hung for its whole 300 s once in a run of 442). A test that hangs twice
  # fails; one that hung once passes, and ctest's output still shows its first run's timeout. A failure is not
  # run again.
  ctest --output-on-failure -j "$(nproc)" --timeout 600 --repeat after-timeout:2 -LE dpi "${@:2}" &
  ctest_pid=$!
  wait "$ctest_pid" || status=$?
  ctest_pid=""
  # The layout tests (label dpi) after the others, since the DPI is a setting of the whole prefix: once at 96
  # and once at 144 DPI, each on its own; the prefix gets its own setting back also when they fail.
  wine_dpi_run_layout_tests "${@:2}" || status=$?
  popd >/dev/null
  echo "==== $arch build: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - start)) s ===="
  return "$status"
}

status=0
for arch in $archs; do
  run_suite "$arch" "$@" || status=1
done
exit "$status"
