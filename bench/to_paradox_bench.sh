#!/usr/bin/env bash
# PostgreSQL to Paradox at size: a 10-column table, then a table with a
# 1 KB memo column, each sent by the handler beside COPY (SELECT ...) TO
# STDOUT of the same rows, in one run against the same server. Runs a tenth
# of the first table first so the peak memory of both sizes can be
# compared (it should not grow with the table). The whole tables are run
# three rounds, the handler and COPY alternating, with and without field
# types kept.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster).
# Usage: bench/to_paradox_bench.sh [BUILD_DIR] [ROWS]
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target to_paradox_bench >/dev/null
echo "== a tenth of the table"
"$build/bin/to_paradox_bench" --rows $((rows / 10)) --folder "$work"
echo "== the whole table"
"$build/bin/to_paradox_bench" --rows "$rows" --folder "$work" --rounds 3
echo "== the whole table, field types kept"
"$build/bin/to_paradox_bench" --rows "$rows" --folder "$work" --rounds 3 --keep-types
echo "== a table with a 1 KB memo column"
"$build/bin/to_paradox_bench" --rows "$rows" --folder "$work" --memo --rounds 3
echo "== what the staging database's crash-safe settings cost"
cmake --build "$build" --target staging_bench >/dev/null
"$build/bin/staging_bench" --rows "$((rows / 5))" --folder "$work"
