#!/usr/bin/env bash
# What keeping types and keys costs on the way to Paradox: one table of ROWS
# rows (a 40-character text key, a number, a short text) sent with
# `corvane-cli to-paradox` plainly, with --keep-types when its rows come in
# key order, and with --keep-types when they come in random order (the rows
# are sorted through a scratch file). Prints wall time, CPU and peak memory
# of each, and each against the plain copy. Peak memory should not grow with
# ROWS; compare two sizes.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster) and
# a user that may create databases: the run uses a database of its own.
# Usage: bench/keyed_export_bench.sh [BUILD_DIR] [ROWS]
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
bin="$build/bin"
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
bench_own_database corvane_keyed_bench

if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" --target corvane-cli >/dev/null
fi
export CORVANE_PROGRAM_DIR=${CORVANE_PROGRAM_DIR:-$(cd "$bin" && pwd)}
psql -q <<SQL
CREATE TABLE keyrand(k varchar(40) PRIMARY KEY, v integer, t text);
INSERT INTO keyrand SELECT md5(i::text) || 'abcdefgh', i, 'row ' || i
  FROM generate_series(1, $rows) i;
CREATE TABLE keyord(k varchar(40) PRIMARY KEY, v integer, t text);
INSERT INTO keyord SELECT * FROM keyrand ORDER BY k;
VACUUM ANALYZE;
SQL

# Runs the command; prints "wall_seconds cpu_seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

run() {  # label table [--keep-types]
  local label=$1
  shift
  rm -rf "$work/px" && mkdir "$work/px"
  read -r w c m < <(measure "$bin/corvane-cli" to-paradox --paradox "$work/px" --quiet "$@")
  if [ -z "${base_w:-}" ]; then base_w=$w base_m=$m; fi
  printf '%-26s %7.2f s wall %7.2f s cpu %8d KiB | x%.2f time x%.2f memory of the plain copy\n' \
    "$label" "$w" "$c" "$m" "$(echo "$w / $base_w" | bc -l)" "$(echo "$m / $base_m" | bc -l)"
}

echo "rows: $rows"
run "plain" keyrand
run "--keep-types, in key order" keyord --keep-types
run "--keep-types, random order" keyrand --keep-types
