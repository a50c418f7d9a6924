#!/usr/bin/env bash
# Runs the check-runner benchmarks under a Wine session against the loopback test servers and prints the
# figures (also written to $MENDREL_ARTIFACTS/checks-bench.txt, or bench/out/checks-bench.txt).
#   bench/run-checks.sh [--quick]    --quick watches the never-answering servers for 70 s instead of 130 s
# MENDREL_BENCH_ARCH=i686 runs the 32-bit build under the 32-bit loader instead of the x86_64 build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
hang_seconds=130
[ "${1:-}" = "--quick" ] && hang_seconds=70

arch=${MENDREL_BENCH_ARCH:-x86_64}
scripts/build.sh "$arch" >/dev/null
exe="$root/build/$arch/bench/checks_bench.exe"
out_dir="${MENDREL_ARTIFACTS:-$root/bench/out}"
mkdir -p "$out_dir"
servers="$root/bench/out/servers"

. scripts/wine-session.sh
cleanup() {
  python3 tests/servers/launch.py stop "$servers" >/dev/null 2>&1 || true
  wine_session_stop
}
trap cleanup EXIT
python3 tests/servers/launch.py start "$servers" --lifetime 900 >/dev/null
port() { grep "^$1=" "$servers/ports.txt" | cut -d= -f2; }
http="http://127.0.0.1:$(port http)"
hang="http://127.0.0.1:$(port hang)"
wine_session_start

{
  echo "== 1,000 active servers against a loopback server (goal: <= 10 s, <= 256 workers, <= 100 ms)"
  "$(wine_loader "$arch")" "$exe" first-checks 1000 "$http/ok"
  echo
  echo "== 2,000 servers that accept and never answer (goal: <= 256 workers, < 1 GB, <= 100 ms,"
  echo "   512 rows \"Failed to connect\" after two deadlines)"
  "$(wine_loader "$arch")" "$exe" hanging 2000 "$hang" "$hang_seconds"
  echo
  echo "== one check against the floor of this platform: a bare WinHTTP GET of the same URL on one session,"
  echo "   median of five runs of 1,000 sequential requests each (goal: ratio <= 1.3)"
  loader=$(wine_loader "$arch")
  floors=() checks=() connects=()
  for _ in 1 2 3 4 5; do
    floors+=("$("$loader" "$exe" floor 1000 "$http/ok/Report" | tee /dev/stderr | sed -n 's/^floor-seconds=//p')")
    # The same GET with a connection handle of its own, as every check has: where the rest of a check goes.
    connects+=("$("$loader" "$exe" floor-connect 1000 "$http/ok/Report" | tee /dev/stderr |
      sed -n 's/^floor-connect-seconds=//p')")
    checks+=("$("$loader" "$exe" sequential 1000 "$http/ok" | tee /dev/stderr | sed -n 's/^sequential-seconds=//p')")
  done
  # curl, which keeps one connection and parses nothing, as a reference.
  urls=()
  for _ in $(seq 200); do urls+=("$http/ok/Report"); done
  start=$(date +%s.%N)
  curl -s "${urls[@]}" >/dev/null
  end=$(date +%s.%N)
  python3 -c 'import statistics, sys
floors = [float(x) for x in sys.argv[1].split()]
checks = [float(x) for x in sys.argv[2].split()]
connects = [float(x) for x in sys.argv[5].split()]
curl = (float(sys.argv[4]) - float(sys.argv[3])) / 200
connect = statistics.median(connects)
floor, check = statistics.median(floors), statistics.median(checks)
ratio = check / floor
print("floor: runs %s s, median %.3f ms per GET" % (" ".join(sys.argv[1].split()), floor))
print("check: runs %s s, median %.3f ms per check" % (" ".join(sys.argv[2].split()), check))
print("GET with a connection of its own: runs %s s, median %.3f ms per GET; check / that GET: %.2f"
      % (" ".join(sys.argv[5].split()), connect, check / connect))
print("curl (reference): %.3f ms per request" % (curl * 1000))
print("RESULT\tone server check vs a bare WinHTTP GET, median of 5 x 1,000: time ratio\t<= 1.3\t%.2f (%.3f ms vs %.3f ms)\t%s"
      % (ratio, check, floor, "met" if ratio <= 1.3 else "missed"))' "${floors[*]}" "${checks[*]}" "$start" "$end" "${connects[*]}"
} 2>&1 | tee "$out_dir/checks-bench.txt"
