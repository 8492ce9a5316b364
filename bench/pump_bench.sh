#!/usr/bin/env bash
# How long the tables window waits between two event-loop passes while it
# loads its lists, sends a table each way and deletes it, at size.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster).
# Usage: bench/pump_bench.sh [BUILD_DIR] [ROWS]
set -euo pipefail

build=${1:-build}
rows=${2:-1000000}
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
cmake --build "$build" --target pump_bench >/dev/null
"$build/bin/pump_bench" --rows "$rows"
