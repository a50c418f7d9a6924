#!/usr/bin/env bash
# The remote client as a whole with thousands of items, under a Wine session against the loopback test servers:
# the real program's launch on 5,000 + 5,000 and 10,000 + 10,000 inactive items, and the real main window
# through a wave of 5,000 + 5,000 active items, idle, a second wave and one edit. Prints the figures (also
# written to $MENDREL_ARTIFACTS/window-bench.txt, or bench/out/window-bench.txt).
#   bench/run-window.sh [--profile]    --profile also samples the main thread and prints where its time went
# SERVERS and SITES (default 5000 each) set the sizes of the wave. MENDREL_BENCH_ARCH=i686 runs the 32-bit
# build under the 32-bit loader instead of the x86_64 build (whose main thread alone can be profiled).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
profile=0
[ "${1:-}" = "--profile" ] && profile=1
servers=${SERVERS:-5000}
sites=${SITES:-5000}

arch=${MENDREL_BENCH_ARCH:-x86_64}
scripts/build.sh "$arch" >/dev/null
bench="$root/build/$arch/bench/window_bench.exe"
program="$root/build/$arch/remote_client/MendrelRemoteClient.exe"
out_dir="${MENDREL_ARTIFACTS:-$root/bench/out}"
mkdir -p "$out_dir"
state="$root/bench/out/window-servers"

. scripts/wine-session.sh
nginx_dir="$root/bench/out/window-nginx"
nginx_pid=
cleanup() {
  python3 tests/servers/launch.py stop "$state" >/dev/null 2>&1 || true
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; fi
  wine_session_stop
}
trap cleanup EXIT
python3 tests/servers/launch.py start "$state" --lifetime 1200 >/dev/null
http="http://127.0.0.1:$(grep '^http=' "$state/ports.txt" | cut -d= -f2)"

# The waves' server: nginx where the machine has it (bench/run-all.sh installs it), serving the test server's
# report and page as files. A Mendrel host answers from a machine of its own; the Python test server, a thread
# per connection, takes about 40 % of one of this machine's two cores away from the client during a wave. Without
# nginx the waves go to the Python server, and the output says so.
wave_http="$http"
wave_server="the Python test server (nginx is not installed)"
nginx=$(command -v nginx || true)
if [ -z "$nginx" ] && [ -x /usr/sbin/nginx ]; then nginx=/usr/sbin/nginx; fi
if [ -n "$nginx" ]; then
  rm -rf "$nginx_dir"
  mkdir -p "$nginx_dir/www/ok" "$nginx_dir/tmp" "$nginx_dir/logs"
  python3 -c 'import sys; sys.path.insert(0, "tests/servers"); import testservers
open(sys.argv[1], "wb").write(testservers.REPORT)' "$nginx_dir/www/ok/Report"
  printf '%s' '<html><body>Welcome to the shop</body></html>' > "$nginx_dir/www/page"
  chmod -R a+rX "$nginx_dir"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat > "$nginx_dir/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $nginx_dir/nginx.pid;
error_log $nginx_dir/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  # Every check opens a connection of its own, as against the Python server.
  keepalive_timeout 0;
  client_body_temp_path $nginx_dir/tmp;
  proxy_temp_path $nginx_dir/tmp;
  fastcgi_temp_path $nginx_dir/tmp;
  uwsgi_temp_path $nginx_dir/tmp;
  scgi_temp_path $nginx_dir/tmp;
  types { text/xml Report; }
  default_type text/html;
  server { listen 127.0.0.1:$port; root $nginx_dir/www; }
}
CONF
  timeout 1500 "$nginx" -e "$nginx_dir/logs/error.log" -c "$nginx_dir/nginx.conf" -p "$nginx_dir" &
  nginx_pid=$!
  for _ in $(seq 50); do
    if curl -sf "http://127.0.0.1:$port/ok/Report" >/dev/null 2>&1; then break; fi
    sleep 0.1
  done
  if curl -sf "http://127.0.0.1:$port/page" 2>/dev/null | grep -q Welcome; then
    wave_http="http://127.0.0.1:$port"
    wave_server="nginx ($nginx_dir)"
  else
    wave_server="the Python test server (nginx did not start; see $nginx_dir/logs/error.log)"
  fi
fi
wine_session_start --xvfb
loader=$(wine_loader "$arch")
# The program's own window as a user starts it, so that its settings folder is the prefix user's.
winpath() { "$WINE64" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

launch() {
  local n=$1 m=$2
  "$loader" "$bench" launch "$(winpath "$program")" "$n" "$m" | tr -d '\r' | tee /dev/stderr \
    | sed -n 's/^launch-seconds=//p'
}

{
  echo "== launch of the program on inactive items (goal: <= 1.5 s with 5,000 + 5,000; 10,000 + 10,000 within"
  echo "   2.2 times that)"
  launch 200 200 >/dev/null  # warms the prefix's caches, as any earlier start of a program would have
  small=$(launch 5000 5000)
  large=$(launch 10000 10000)
  python3 - "$small" "$large" <<'PY'
import sys
small, large = map(float, sys.argv[1:])
ok = small >= 0 and large >= 0
print("RESULT\t5,000 servers + 5,000 sites inactive: launch until the window answers with both lists full"
      "\t<= 1.5 s\t%.2f s\t%s" % (small, "met" if ok and small <= 1.5 else "missed"))
ratio = large / small if small > 0 else float("inf")
print("RESULT\tthe same with 10,000 + 10,000\t<= 2.2 x the 5,000 + 5,000 figure\t%.2f s (%.2f x)\t%s"
      % (large, ratio, "met" if ok and ratio <= 2.2 else "missed"))
PY
  echo
  echo "== the main window through a wave of $servers + $sites active items against a loopback server: $wave_server"
  if [ $profile -eq 1 ]; then
    "$loader" "$bench" wave "$servers" "$sites" "$wave_http" "$(winpath "$out_dir")\\window-profile" | tr -d '\r'
    for phase in start wave edit; do
      echo "-- profile of the $phase"
      python3 bench/profile-report.py "$out_dir/window-profile.$phase" "$bench" --top 30
    done
  else
    "$loader" "$bench" wave "$servers" "$sites" "$wave_http" | tr -d '\r'
  fi
} 2>&1 | tee "$out_dir/window-bench.txt"
