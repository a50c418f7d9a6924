#!/usr/bin/env bash
# The one benchmark command: installs what is missing, builds what the benchmarks need, runs every
# benchmark under wine64 (each script starts and stops its own Wine session) and prints one table:
# figure, goal, measured, whether the goal was met, and the machine it ran on.
#   bench/run-all.sh [--quick]    --quick watches the never-answering servers for 70 s instead of 130 s
#
# Each benchmark prints its figures as lines "RESULT<TAB>figure<TAB>goal<TAB>measured<TAB>met|missed"
# among its other output; the whole output of each lands in bench/out/<name>.log, the table in
# bench/out/results.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build.sh x86_64 >/dev/null

out="$root/bench/out"
mkdir -p "$out"
results="$out/results.tsv"
: > "$results"
failed=0

run() {
  local name=$1
  shift
  echo "Running $name ..." >&2
  if ! bash "$@" > "$out/$name.log" 2>&1; then
    echo "  $name failed (see bench/out/$name.log)" >&2
    failed=1
  fi
  grep -a $'^RESULT\t' "$out/$name.log" | tr -d '\r' | cut -f2- >> "$results" || true
}

run store bench/run-store.sh
run checks bench/run-checks.sh "$@"
run window bench/run-window.sh

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
machine="$(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $cpu; load $(cut -d' ' -f1-3 /proc/loadavg);"
machine="$machine $(uname -sr); $(/usr/lib/wine/wine64 --version 2>/dev/null); x86_64 build under wine64"
python3 - "$results" "$machine" <<'PY' | tee "$out/results.md"
import sys
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1]) if l.strip()]
rows = [(r + [''] * 4)[:4] for r in rows]
head = ['figure', 'goal', 'measured', 'goal met']
widths = [max([len(head[i])] + [len(r[i]) for r in rows]) for i in range(4)]
line = lambda cells: '| ' + ' | '.join(c.ljust(w) for c, w in zip(cells, widths)) + ' |'
print(line(head))
print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
for r in rows:
    print(line(r))
print()
print('Machine: ' + sys.argv[2])
PY
exit $failed
