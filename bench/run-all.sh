#!/usr/bin/env bash
# Builds what the benchmarks need, runs every benchmark under wine64 and prints one table:
# figure, goal, measured, and the machine it ran on.
#
# Each benchmark program prints its figures as lines "RESULT<TAB>figure<TAB>goal<TAB>measured"; everything
# else it prints goes to bench/out/<name>.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build.sh x86_64

. scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start --xvfb

out="$root/bench/out"
mkdir -p "$out"
results="$out/results.tsv"
: > "$results"

for script in "$root"/bench/run-*.sh; do
  [ "$(basename "$script")" = run-all.sh ] && continue
  name=$(basename "$script" .sh)
  echo "Running $name ..." >&2
  if MENDREL_BENCH_IN_SESSION=1 bash "$script" > "$out/$name.log" 2>&1; then
    :
  else
    echo "  $name failed (see bench/out/$name.log)" >&2
  fi
  grep -a $'^RESULT\t' "$out/$name.log" | tr -d '\r' | cut -f2- >> "$results" || true
done

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
machine="$(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $cpu, $(uname -sr), $($WINE64 --version 2>/dev/null)"
python3 - "$results" "$machine" <<'PY'
import sys
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1]) if l.strip()]
rows = [r + [''] * (3 - len(r)) for r in rows]
head = ['figure', 'goal', 'measured']
widths = [max(len(head[i]), *(len(r[i]) for r in rows)) if rows else len(head[i]) for i in range(3)]
line = lambda cells: '| ' + ' | '.join(c.ljust(w) for c, w in zip(cells, widths)) + ' |'
print(line(head))
print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
for r in rows:
    print(line(r[:3]))
print()
print('Machine: ' + sys.argv[2])
PY
