#!/usr/bin/env bash
# Installs what is missing, builds both architectures and opens MendrelRemoteClient on a private Wine prefix
# against a stand-in Mendrel service on loopback, with a Settings.xml holding that server and one local page
# as a site, so that the first checks turn green at once.
#
#   scripts/setup-and-run.sh                  the demo settings
#   scripts/setup-and-run.sh my/Settings.xml  your own settings (copied into the prefix and back on exit)
#   scripts/setup-and-run.sh config           MendrelClient in the folder of the stand-in service, which is
#                                             registered as the "Mendrel" service of the prefix and running
#
# Without a display (or with MENDREL_HEADLESS=1) it runs on Xvfb, waits for the first checks (or for the
# configuration client's window), prints what it found and the path of a screenshot, and exits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build.sh all

headless=0
if [ -z "${DISPLAY:-}" ] || [ "${MENDREL_HEADLESS:-0}" = 1 ]; then
  headless=1
fi

export MENDREL_WINEPREFIX="$root/build/run-prefix"
. scripts/wine-session.sh
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wine_session_stop
}
trap cleanup EXIT
start_session() { if [ $headless = 1 ]; then wine_session_start --xvfb; else wine_session_start; fi; }
new_prefix=0
[ -f "$MENDREL_WINEPREFIX/system.reg" ] || new_prefix=1
start_session

bin="$root/build/x86_64"
run="$root/build/run"
mkdir -p "$run/service" "$run/site" "$root/build/x86_64/artifacts"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
service_port=$(free_port)
site_port=$(free_port)

# The stand-in service with its ini file beside it, as the real service keeps it.
cp "$bin/standin_service/MendrelService.exe" "$run/service/"
printf '[Remote]\r\nEnabled=True\r\nListenAddress=127.0.0.1\r\nPort=%s\r\nLogin=admin\r\nPassword=demo\r\nUseSSL=False\r\n\r\n' "$service_port" \
  > "$run/service/DravexMendrel.ini"

if [ "${1:-}" = config ]; then
  # MendrelClient belongs in the service's folder and controls the service through the service control
  # manager, so the stand-in runs as the registered service "Mendrel" here, not in a console.
  cp "$bin/config_client/MendrelClient.exe" "$run/service/"
  # On the first boot of a prefix Wine's own device services keep the service database locked for long;
  # after one restart of the session they come up at once.
  if [ $new_prefix = 1 ]; then
    wine_session_stop
    start_session
  fi
  service_exe=$("$WINE64" winepath.exe -w "$run/service/MendrelService.exe" 2>/dev/null | tr -d '\r')
  "$WINE64" sc.exe stop Mendrel >/dev/null 2>&1 || true
  "$WINE64" sc.exe delete Mendrel >/dev/null 2>&1 || true
  "$WINE64" sc.exe create Mendrel binpath= "$service_exe" start= demand >/dev/null
  remove_service() {
    "$WINE64" sc.exe stop Mendrel >/dev/null 2>&1 || true
    "$WINE64" sc.exe delete Mendrel >/dev/null 2>&1 || true
  }
  trap 'remove_service; cleanup' EXIT
  started=0
  for _ in $(seq 1 30); do
    "$WINE64" sc.exe start Mendrel >/dev/null 2>&1 || true
    if curl -s -o /dev/null -u admin:demo "http://127.0.0.1:$service_port/Report"; then started=1; break; fi
    sleep 1
  done
  if [ $started = 0 ]; then
    echo "The stand-in service did not start" >&2
    exit 1
  fi
  echo "The stand-in service \"Mendrel\" listens on http://127.0.0.1:$service_port (admin/demo)"
  echo "MendrelClient edits $run/service/DravexMendrel.ini; \"Save and restart service\" restarts the stand-in"
  if [ $headless = 1 ]; then
    "$WINE64" "$run/service/MendrelClient.exe" &
    pids+=($!)
    shot="$root/build/x86_64/artifacts/run-config-client.png"
    sleep 5 # the window comes up and settles
    import -display "$DISPLAY" -window root "$shot"
    echo "Service state: $("$WINE64" sc.exe query Mendrel 2>/dev/null | tr -d '\r' | grep -i state | sed 's/  */ /g')"
    echo "Screenshot saved to $shot"
  else
    "$WINE64" "$run/service/MendrelClient.exe"
  fi
  exit 0
fi

"$WINE64" "$run/service/MendrelService.exe" /console >"$run/service.log" 2>&1 &
pids+=($!)

# One local page for the site check.
printf '<html><body><h1>Mendrel demo page</h1><p>All systems go</p></body></html>\n' > "$run/site/index.html"
python3 -m http.server "$site_port" --bind 127.0.0.1 --directory "$run/site" >"$run/site.log" 2>&1 &
pids+=($!)

appdata=$("$WINE64" cmd.exe /c echo %APPDATA% 2>/dev/null | tr -d '\r')
settings_dir=$("$WINE64" winepath.exe -u "$appdata\\MendrelRemoteClient" 2>/dev/null | tr -d '\r')
mkdir -p "$settings_dir"
user_settings="${1:-}"
if [ -n "$user_settings" ]; then
  cp "$user_settings" "$settings_dir/Settings.xml"
else
  cat > "$settings_dir/Settings.xml" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Options>
  <Servers>
    <ItemDemoServer>
      <Active>True</Active>
      <URL>http://127.0.0.1:$service_port</URL>
      <CheckIntevalMinutes>1</CheckIntevalMinutes>
      <Username>admin</Username>
      <Password>demo</Password>
    </ItemDemoServer>
  </Servers>
  <Sites>
    <ItemDemoSite>
      <Active>True</Active>
      <URL>http://127.0.0.1:$site_port/index.html</URL>
      <CheckIntevalMinutes>1</CheckIntevalMinutes>
      <CodeToCheck>All systems go</CodeToCheck>
    </ItemDemoSite>
  </Sites>
</Options>
XML
fi

echo "Stand-in Mendrel service on http://127.0.0.1:$service_port (admin/demo), demo page on port $site_port"
if [ $headless = 1 ]; then
  "$WINE64" "$bin/remote_client/MendrelRemoteClient.exe" &
  client=$!
  pids+=($client)
  shot="$root/build/x86_64/artifacts/run-remote-client.png"
  "$WINE64" "$bin/tests/e2e/mendrel_peek.exe" --rows 2 --timeout 60 --screenshot "$(
    "$WINE64" winepath.exe -w "$shot" 2>/dev/null | tr -d '\r')" | tr -d '\r'
  echo "Screenshot saved to $shot"
else
  "$WINE64" "$bin/remote_client/MendrelRemoteClient.exe"
fi
if [ -n "$user_settings" ] && [ -f "$settings_dir/Settings.xml" ]; then
  cp "$settings_dir/Settings.xml" "$user_settings"
fi
