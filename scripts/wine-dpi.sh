# Sourced after wine-session.sh: the DPI of the session's prefix. Wine reads LogPixels from
# HKCU\\Control Panel\\Desktop first (and from the hardware profile's Fonts key without it) when a process
# starts, so a new process sees a new value at once, on the running server.
# wine_dpi_set DPI remembers the prefix's own value the first time; wine_dpi_restore puts it back.

_dpi_key='HKCU\Control Panel\Desktop'
_dpi_saved=""
_dpi_changed=0

wine_dpi_set() {
  if [ $_dpi_changed -eq 0 ]; then
    _dpi_saved=$("$WINE64" reg query "$_dpi_key" /v LogPixels 2>/dev/null | awk '/LogPixels/ {print $3}' | tr -d '\r' || true)
    _dpi_changed=1
  fi
  "$WINE64" reg add "$_dpi_key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

wine_dpi_restore() {
  [ $_dpi_changed -eq 1 ] || return 0
  if [ -n "$_dpi_saved" ]; then
    "$WINE64" reg add "$_dpi_key" /v LogPixels /t REG_DWORD /d "$((_dpi_saved))" /f >/dev/null 2>&1 || true
  else
    "$WINE64" reg delete "$_dpi_key" /v LogPixels /f >/dev/null 2>&1 || true
  fi
  _dpi_changed=0
}

# Runs the layout tests (ctest label dpi, in the current build folder) once at each DPI, each run on its own,
# then gives the prefix its own setting back. Extra arguments go to ctest. Answers the first failure's status.
wine_dpi_run_layout_tests() {
  local status=0 dpi
  for dpi in 96 144; do
    wine_dpi_set "$dpi"
    MENDREL_DPI=$dpi ctest --output-on-failure --timeout 600 --repeat after-timeout:2 -L dpi "$@" || status=$?
  done
  wine_dpi_restore
  return $status
}
