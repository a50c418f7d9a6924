#!/usr/bin/env bash
# The one benchmark command: installs what is missing, builds what the benchmarks need, runs every
# benchmark on both builds, the i686 programs that users run under the 32-bit loader and the x86_64 ones under
# wine64 (each script starts and stops its own Wine session), and prints one table: build, figure, goal,
# measured, whether the goal was met, and the machine it ran on.
#   bench/run-all.sh [--quick]    --quick watches the never-answering servers for 70 s instead of 130 s
#
# Each benchmark prints its figures as lines "RESULT<TAB>figure<TAB>goal<TAB>measured<TAB>met|missed"
# among its other output; the whole output of each lands in bench/out/<name>-<build>.log, the table in
# bench/out/results.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh --bench
scripts/build.sh all >/dev/null

out="$root/bench/out"
mkdir -p "$out"
results="$out/results.tsv"
: > "$results"
failed=0

run() {
  local name=$1 arch=$2
  shift 2
  local log="$out/$name-$arch.log"
  echo "Running $name on the $arch build ..." >&2
  if ! MENDREL_BENCH_ARCH=$arch bash "$@" > "$log" 2>&1; then
    echo "  $name failed (see $log)" >&2
    failed=1
  fi
  grep -a $'^RESULT\t' "$log" | tr -d '\r' | cut -f2- | sed "s/^/$arch\t/" >> "$results" || true
}

for arch in i686 x86_64; do
  run store "$arch" bench/run-store.sh
  run checks "$arch" bench/run-checks.sh "$@"
  run window "$arch" bench/run-window.sh
done

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
machine="$(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $cpu; load $(cut -d' ' -f1-3 /proc/loadavg);"
machine="$machine $(uname -sr); $(/usr/lib/wine/wine64 --version 2>/dev/null); i686 build under /usr/lib/wine/wine,"
machine="$machine x86_64 build under /usr/lib/wine/wine64"
python3 - "$results" "$machine" <<'PY' | tee "$out/results.md"
import sys
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1]) if l.strip()]
rows = [(r + [''] * 5)[:5] for r in rows]
head = ['build', 'figure', 'goal', 'measured', 'goal met']
widths = [max([len(head[i])] + [len(r[i]) for r in rows]) for i in range(5)]
line = lambda cells: '| ' + ' | '.join(c.ljust(w) for c, w in zip(cells, widths)) + ' |'
print(line(head))
print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
for r in rows:
    print(line(r))
print()
print('Machine: ' + sys.argv[2])
PY
exit $failed
