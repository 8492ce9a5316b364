#!/usr/bin/env bash
# Write throughput of our Paradox writer against pxlib writing the same rows,
# in the same run: wall time, time inside the writer, peak memory, ratios.
# Both tables are then read back by our reader and must give the same rows.
# Usage: [RUNS=3] bench/paradox_write_bench.sh [BUILD_DIR] [ROWS]
# pxlib seeks and reads some 200 times for every record it appends (about
# 4 minutes per million rows here): keep ROWS modest.
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
runs=${RUNS:-3}
bin="$build/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target paradox_write_bench corvane-cli >/dev/null

# Prints "wall_seconds peak_kib writer_seconds".
measure() {
  rm -f "$work/$1.db"
  /usr/bin/time -f "%e %M" -o "$work/time" "$bin/paradox_write_bench" "$1" "$work/$1.db" "$rows" \
    >"$work/inside"
  echo "$(cat "$work/time") $(cat "$work/inside")"
}

best() { sort -n | head -1; }
declare -A wall inside peak
for mode in ours pxlib; do wall[$mode]=""; inside[$mode]=""; peak[$mode]=0; done
for _ in $(seq "$runs"); do
  for mode in ours pxlib; do
    read -r t m w < <(measure "$mode")
    wall[$mode]+="$t"$'\n'; inside[$mode]+="$w"$'\n'
    [ "$m" -gt "${peak[$mode]}" ] && peak[$mode]=$m
  done
done

# Same rows in both files, as our reader sees them.
"$bin/corvane-cli" dump "$work/ours.db" >"$work/ours.txt"
"$bin/corvane-cli" dump "$work/pxlib.db" >"$work/pxlib.txt"
if ! cmp -s "$work/ours.txt" "$work/pxlib.txt"; then
  echo "the two tables differ:" >&2
  diff "$work/ours.txt" "$work/pxlib.txt" | head -5 >&2
  exit 1
fi

for mode in ours pxlib; do
  w=$(printf '%s' "${wall[$mode]}" | best)
  i=$(printf '%s' "${inside[$mode]}" | best)
  printf '%-6s wall %ss, inside the writer %ss (best of %d), peak RSS %d MiB, file %d bytes\n' \
    "$mode" "$w" "$i" "$runs" $((peak[$mode] / 1024)) "$(stat -c %s "$work/$mode.db")"
  eval "best_wall_$mode=$w best_inside_$mode=$i"
done
echo "table: $rows rows, 10 columns"
awk -v ow="$best_wall_ours" -v pw="$best_wall_pxlib" -v oi="$best_inside_ours" -v pi="$best_inside_pxlib" \
  -v om="${peak[ours]}" -v pm="${peak[pxlib]}" 'BEGIN {
  printf "ratio (pxlib time / our time): wall %.2f, inside the writer %.2f\n", pw / ow, pi / oi
  printf "ratio (our peak RSS / pxlib peak RSS): %.2f\n", om / pm
}'
