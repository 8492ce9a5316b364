#!/usr/bin/env bash
# Decode throughput of `corvane-cli dump` against pxlib reading and printing
# the same table, in the same run. Prints times, the ratio and peak memory.
# Usage: bench/paradox_read_bench.sh [BUILD_DIR] [ROWS]
# The build needs the targets corvane-cli, paradox_bench_gen and pxlib_dump.
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
runs=3
bin="$build/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target corvane-cli paradox_bench_gen pxlib_dump >/dev/null
"$bin/paradox_bench_gen" "$work/bench.db" "$rows"
echo "table: $rows rows, 10 columns, $(stat -c %s "$work/bench.db") bytes"

# Runs "$@" with output to /dev/null; prints "seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}

# Both readers must agree on the number of lines before they are timed.
ours_lines=$("$bin/corvane-cli" dump "$work/bench.db" | wc -l)
peer_lines=$("$bin/pxlib_dump" "$work/bench.db" | wc -l)
if [ "$ours_lines" != "$peer_lines" ]; then
  echo "line counts differ: corvane-cli $ours_lines, pxlib $peer_lines" >&2
  exit 1
fi

best() { sort -n | head -1; }
ours_t=(); peer_t=(); ours_m=0; peer_m=0
for _ in $(seq "$runs"); do
  read -r t m < <(measure "$bin/corvane-cli" dump "$work/bench.db")
  ours_t+=("$t"); [ "$m" -gt "$ours_m" ] && ours_m=$m
  read -r t m < <(measure "$bin/pxlib_dump" "$work/bench.db")
  peer_t+=("$t"); [ "$m" -gt "$peer_m" ] && peer_m=$m
done
ours=$(printf '%s\n' "${ours_t[@]}" | best)
peer=$(printf '%s\n' "${peer_t[@]}" | best)

echo "corvane-cli dump: ${ours}s (best of $runs), peak RSS $((ours_m / 1024)) MiB"
echo "pxlib:            ${peer}s (best of $runs), peak RSS $((peer_m / 1024)) MiB"
awk -v a="$peer" -v b="$ours" 'BEGIN {
  if (b <= 0) b = 0.005
  printf "ratio: corvane-cli is %.1fx as fast as pxlib\n", a / b
}'
