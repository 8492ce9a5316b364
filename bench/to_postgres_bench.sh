#!/usr/bin/env bash
# Paradox to PostgreSQL at size: a 10-column table copied by the handler,
# beside one INSERT per round trip (on a subset, rate extrapolated) and COPY
# of the same rows, all in one run against the same server. Runs a tenth of
# the table first so the peak memory of both sizes can be compared.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster).
# Usage: bench/to_postgres_bench.sh [BUILD_DIR] [ROWS] [PLAIN_ROWS]
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
plain=${3:-20000}
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target to_postgres_bench >/dev/null
echo "== a tenth of the table"
"$build/bin/to_postgres_bench" --rows $((rows / 10)) --plain-rows $((plain / 10)) \
  --rounds 1 --folder "$work" 2>/dev/null | grep -E '^(table|  ours)'
echo "== the whole table"
"$build/bin/to_postgres_bench" --rows "$rows" --plain-rows "$plain" --folder "$work" 2>/dev/null
echo "== a table with a 1 KB memo (the ratio to COPY is the one to watch)"
"$build/bin/to_postgres_bench" --rows "$rows" --plain-rows "$plain" --folder "$work" --memo yes \
  2>/dev/null
