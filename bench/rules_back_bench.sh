#!/usr/bin/env bash
# What a table's rules cost the copy back to Paradox with --keep-types: one
# table of ROWS rows (an integer key, a bounded NOT NULL number with a
# default, a text, a date) sent with `corvane-cli to-paradox --keep-types`
# once bare and once with its checks and three indexes (the number, lower()
# of the text, and text with number descending), which become the .val and
# the secondary index files. Prints wall time, CPU and peak memory of each
# and the difference.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster) and
# a user that may create databases: the run uses a database of its own.
# Usage: bench/rules_back_bench.sh [BUILD_DIR] [ROWS]
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
bin="$build/bin"
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
bench_own_database corvane_rules_back_bench

if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" --target corvane-cli >/dev/null
fi
export CORVANE_PROGRAM_DIR=${CORVANE_PROGRAM_DIR:-$(cd "$bin" && pwd)}
psql -q -v ON_ERROR_STOP=1 <<SQL
CREATE TABLE bare(id integer PRIMARY KEY, qty integer, name varchar(40), d date);
INSERT INTO bare SELECT i, i % 1000, md5(i::text), DATE '2000-01-01' + i % 9000
  FROM generate_series(1, $rows) i;
CREATE TABLE ruled(id integer PRIMARY KEY, qty integer NOT NULL DEFAULT 5
  CHECK (qty BETWEEN 0 AND 999), name varchar(40) DEFAULT 'none', d date
  CHECK (d >= '2000-01-01'));
INSERT INTO ruled SELECT * FROM bare;
CREATE INDEX ruled_qty ON ruled(qty);
CREATE INDEX ruled_name ON ruled(lower(name));
CREATE INDEX ruled_both ON ruled(name DESC, qty DESC);
VACUUM ANALYZE;
SQL

# Runs the command; prints "wall_seconds cpu_seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

run() {  # label table
  rm -rf "$work/px" && mkdir "$work/px"
  read -r w c m < <(measure "$bin/corvane-cli" to-paradox --paradox "$work/px" --quiet \
                      --keep-types "$2")
  if [ -z "${base_w:-}" ]; then base_w=$w base_c=$c; fi
  printf '%-24s %7.2f s wall %7.2f s cpu %8d KiB | +%.2f s wall +%.2f s cpu\n' \
    "$1" "$w" "$c" "$m" "$(echo "$w - $base_w" | bc -l)" "$(echo "$c - $base_c" | bc -l)"
}

echo "rows: $rows"
run "without rules" bare
run "with checks and indexes" ruled
ls -l "$work/px"
