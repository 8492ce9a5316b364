#!/usr/bin/env bash
# Peak memory for one large value each way (a memo and a binary value into
# PostgreSQL, a text and a bytea into Paradox), as a multiple of the value's
# size, beside libpq fetching the same value.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster).
# Usage: bench/large_value_bench.sh [BUILD_DIR] [MB]
set -euo pipefail

build=${1:-build}
mb=${2:-100}
if [ -z "${CORVANE_TEST_PGHOST:-}" ]; then
  echo "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE (see scripts/test.sh)" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target large_value_bench >/dev/null
"$build/bin/large_value_bench" --folder "$work" --mb "$mb"
