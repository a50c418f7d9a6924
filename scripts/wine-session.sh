# Sourced by the scripts that run Windows programs: a private Wine prefix under build/, one persistent
# wineserver started and warmed first, and an X display (Xvfb when there is none, or when asked for).
# wine_session_start [--xvfb] sets DISPLAY, WINEPREFIX and friends; wine_session_stop ends what it started.

WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
_session_xvfb_pid=""

wine_session_start() {
  local want_xvfb=0
  [ "${1:-}" = "--xvfb" ] && want_xvfb=1
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export WINEPREFIX="${MENDREL_WINEPREFIX:-$root/build/wineprefix}"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  export WINEARCH=win64
  # One locale whatever the machine's: Wine takes the Windows locale, and with it the ANSI code page (1252 for
  # this one) and the formats of dates and numbers, from the Unix locale.
  export LC_ALL=C.UTF-8

  if [ $want_xvfb -eq 1 ] || [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    _session_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
  fi

  mkdir -p "$WINEPREFIX"
  # The persistent server first, so that the prefix's creation and every test use this one server.
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  "$WINESERVER" -p
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    # On its first boot Wine's own device services hold the service database, and services started then
    # time out (1053): one restart of the server leaves a prefix that behaves like any later one.
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    "$WINESERVER" -p
    "$WINE64" cmd.exe /c exit >/dev/null 2>&1 || true
  fi
  wine_install_fonts
  # The first 32-bit process of a session sets up the prefix's 32-bit side; once it hung at its exit as the first
  # test of the i686 run. A warm-up takes that first start, bounded, before any test.
  if [ -x "$WINE32" ]; then
    timeout 120 "$WINE32" cmd.exe /c exit >/dev/null 2>&1 || true
  fi
  # Without a window manager on the display, Wine waits up to two seconds for one whenever a managed
  # window hides; unmanaged windows hide at once. This also warms the server and the prefix.
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

# Wine's own fonts (Debian's fonts-wine) into the prefix's Fonts folder. This Wine looks for fonts only through
# fontconfig and in C:\windows\Fonts, never in its data folder (/usr/share/wine/fonts, where the package puts
# them), and wineboot does not copy them: without Marlett the caption buttons show the letters "0 1 r" in
# another font, and without Tahoma the dialogs take a substitute with other metrics.
wine_install_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" f
  mkdir -p "$fonts"
  for f in marlett.ttf tahoma.ttf tahomabd.ttf; do
    if [ -f "/usr/share/wine/fonts/$f" ] && [ ! -f "$fonts/$f" ]; then
      cp "/usr/share/wine/fonts/$f" "$fonts/"
    fi
  done
}

# The loader of a build: wine64 for x86_64, the 32-bit loader for i686 (both run in the session's prefix).
wine_loader() {
  case "$1" in
    i686) echo "$WINE32" ;;
    *) echo "$WINE64" ;;
  esac
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
  if [ -n "$_session_xvfb_pid" ]; then
    kill "$_session_xvfb_pid" >/dev/null 2>&1 || true
    wait "$_session_xvfb_pid" 2>/dev/null || true
    _session_xvfb_pid=""
  fi
}
