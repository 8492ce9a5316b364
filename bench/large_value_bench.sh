#!/usr/bin/env bash
# Peak memory for one large value each way (a memo and a binary value into
# PostgreSQL, a text and a bytea into Paradox), as a multiple of the value's
# size, beside libpq fetching the same value.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster).
# Usage: bench/large_value_bench.sh [BUILD_DIR] [MB]
set -euo pipefail

build=${1:-build}
mb=${2:-100}
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target large_value_bench >/dev/null
"$build/bin/large_value_bench" --folder "$work" --mb "$mb"
