#!/usr/bin/env bash
# Tables side by side: 8 tables of ROWS rows each (10 columns) copied with
# `corvane-cli --all --jobs 1`, `--jobs 2` and `--jobs 4`, both ways, in one
# run against the same server. Prints wall time, CPU, peak memory and each
# count's time as a share of one job's, and checks from the JSON reports
# that every job count stored every row.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster) and
# a user that may create databases: the run uses a database of its own.
# Usage: bench/jobs_bench.sh [BUILD_DIR] [ROWS] [TABLES]
set -euo pipefail

build=${1:-build}
rows=${2:-250000}
tables=${3:-8}
bin="$build/bin"
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
bench_own_database corvane_jobs_bench

if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" --target corvane-cli paradox_bench_gen >/dev/null
fi
mkdir "$work/px" "$work/out1" "$work/out2" "$work/out4"
for i in $(seq 1 "$tables"); do
  "$bin/paradox_bench_gen" "$work/px/JOBS$i.db" "$rows"
done
# An installed-looking program folder is not needed: dbtemp.mdb comes from the build.
export CORVANE_PROGRAM_DIR=${CORVANE_PROGRAM_DIR:-$(cd "$bin" && pwd)}
echo "tables: $tables of $rows rows, 10 columns, $(du -sh "$work/px" | cut -f1) of Paradox files"

# Runs the command; prints "wall_seconds cpu_seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

# The rows stored in all, from a JSON report.
stored() { grep '"total"' "$1" | grep -o '"rows_stored": [0-9]*' | grep -o '[0-9]*$'; }

want=$((rows * tables))
row() {  # direction jobs
  local dir=$1 jobs=$2 out
  if [ "$dir" = to-postgres ]; then
    out=$(measure "$bin/corvane-cli" to-postgres --paradox "$work/px" --all --overwrite \
      --jobs "$jobs" --report "$work/r.json")
  else
    out=$(measure "$bin/corvane-cli" to-paradox --paradox "$work/out$jobs" --all \
      --jobs "$jobs" --report "$work/r.json")
  fi
  local got
  got=$(stored "$work/r.json")
  if [ "$got" != "$want" ]; then
    echo "$dir --jobs $jobs stored $got rows, not $want" >&2
    exit 1
  fi
  echo "$out"
}

for dir in to-postgres to-paradox; do
  row "$dir" 1 >"$work/one"
  row "$dir" 2 >"$work/two"
  row "$dir" 4 >"$work/four"
  read -r w1 c1 m1 <"$work/one"
  read -r w2 c2 m2 <"$work/two"
  read -r w4 c4 m4 <"$work/four"
  printf '%-12s --jobs 1: %6.2f s wall %6.2f s cpu %7d KiB | --jobs 2: %6.2f s wall %6.2f s cpu %7d KiB | --jobs 4: %6.2f s wall %6.2f s cpu %7d KiB | time of 1 job: 2 jobs %.2f, 4 jobs %.2f\n' \
    "$dir" "$w1" "$c1" "$m1" "$w2" "$c2" "$m2" "$w4" "$c4" "$m4" \
    "$(echo "$w2 / $w1" | bc -l)" "$(echo "$w4 / $w1" | bc -l)"
done
