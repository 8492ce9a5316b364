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

# BENCH_NO_BUILD=1 uses the binaries as they are.
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" --target corvane-cli paradox_bench_gen pxlib_dump >/dev/null
fi
"$bin/paradox_bench_gen" "$work/bench.db" "$rows"
echo "table: $rows rows, 10 columns, $(stat -c %s "$work/bench.db") bytes"

# Runs "$@" with output to /dev/null; prints "wall_seconds cpu_seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

# Both readers must agree on the number of lines before they are timed.
ours_lines=$("$bin/corvane-cli" dump "$work/bench.db" | wc -l)
peer_lines=$("$bin/pxlib_dump" "$work/bench.db" | wc -l)
if [ "$ours_lines" != "$peer_lines" ]; then
  echo "line counts differ: corvane-cli $ours_lines, pxlib $peer_lines" >&2
  exit 1
fi

best() { sort -n | head -1; }
ours_t=(); peer_t=(); ours_c=(); peer_c=(); ours_m=0; peer_m=0
for _ in $(seq "$runs"); do
  read -r t c m < <(measure "$bin/corvane-cli" dump "$work/bench.db")
  ours_t+=("$t"); ours_c+=("$c"); [ "$m" -gt "$ours_m" ] && ours_m=$m
  read -r t c m < <(measure "$bin/pxlib_dump" "$work/bench.db")
  peer_t+=("$t"); peer_c+=("$c"); [ "$m" -gt "$peer_m" ] && peer_m=$m
done
ours=$(printf '%s\n' "${ours_t[@]}" | best); ours_cpu=$(printf '%s\n' "${ours_c[@]}" | best)
peer=$(printf '%s\n' "${peer_t[@]}" | best); peer_cpu=$(printf '%s\n' "${peer_c[@]}" | best)

echo "corvane-cli dump: ${ours}s wall, ${ours_cpu}s CPU (best of $runs), peak RSS $((ours_m / 1024)) MiB"
echo "pxlib:            ${peer}s wall, ${peer_cpu}s CPU (best of $runs), peak RSS $((peer_m / 1024)) MiB"
awk -v a="$peer" -v b="$ours" -v ac="$peer_cpu" -v bc="$ours_cpu" 'BEGIN {
  if (b <= 0) b = 0.005
  if (bc <= 0) bc = 0.005
  printf "ratio: corvane-cli is %.1fx as fast as pxlib (wall), %.1fx (CPU)\n", a / b, ac / bc
}'
