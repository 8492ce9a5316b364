#!/usr/bin/env bash
# Whole folders at scale: for each count, that many one-row tables copied
# with `corvane-cli --all` to Paradox (from a database holding them) and
# back to PostgreSQL (into an empty database), then listed, renamed and
# dropped. Prints the time per table of each; the copies should cost about
# the same per table at every count. Checks from the JSON reports that
# every table stored its row.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster) and
# a user that may create databases.
# Usage: bench/many_tables_bench.sh [BUILD_DIR] [COUNT...]   (250 1000 5000)
set -euo pipefail

build=${1:-build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(250 1000 5000)
bin="$build/bin"
. "$(dirname "$0")/bench_pg.sh"
bench_need_postgres
bench_own_database corvane_many_bench
back="${db}_back"
trap 'psql -d "$CORVANE_TEST_PGDATABASE" -qc "DROP DATABASE IF EXISTS $db" -qc "DROP DATABASE IF EXISTS $back" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" --target corvane-cli >/dev/null
fi
export CORVANE_PROGRAM_DIR=${CORVANE_PROGRAM_DIR:-$(cd "$bin" && pwd)}
export XDG_CONFIG_HOME="$work/config" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME" "$HOME"

login() { echo --server "$PGHOST" --port "$PGPORT" --user "$PGUSER" --password "$PGPASSWORD" --database "$1"; }

# Runs the command; prints "wall_seconds cpu_seconds".
measure() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { tail -5 "$work/err" >&2; echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}
stored() { grep '"total"' "$1" | grep -o '"rows_stored": [0-9]*' | grep -o '[0-9]*$'; }
per_table() { awk -v s="$1" -v n="$2" 'BEGIN { printf "%.2f ms", 1000 * s / n }'; }

# $1 tables t1..tN of one row each, made in steps so one transaction holds
# few locks.
make_tables() {
  local n=$1 made=0
  psql -q -c "DROP SCHEMA public CASCADE" -c "CREATE SCHEMA public" 2>/dev/null
  while [ "$made" -lt "$n" ]; do
    local to=$((made + 500 < n ? made + 500 : n))
    psql -q -c "DO \$\$ BEGIN FOR i IN $((made + 1))..$to LOOP
      EXECUTE format('CREATE TABLE t%s (id int, name text)', i);
      EXECUTE format('INSERT INTO t%s VALUES (%s, ''row of t%s'')', i, i, i); END LOOP; END \$\$;"
    made=$to
  done
}

psql -d "$CORVANE_TEST_PGDATABASE" -qc "CREATE DATABASE $back" >/dev/null
printf "%-7s %-28s %-28s %-12s %-12s %-12s\n" tables to-paradox to-postgres list rename drop
for n in "${counts[@]}"; do
  make_tables "$n"
  rm -rf "$work/px"; mkdir "$work/px"
  read -r px_t px_c < <(measure "$bin/corvane-cli" to-paradox --paradox "$work/px" $(login "$db") \
    --all --quiet --report "$work/r.json")
  [ "$(stored "$work/r.json")" = "$n" ] || { echo "to-paradox stored $(stored "$work/r.json") rows, not $n" >&2; exit 1; }
  psql -d "$back" -q -c "DROP SCHEMA public CASCADE" -c "CREATE SCHEMA public" 2>/dev/null
  read -r pg_t pg_c < <(measure "$bin/corvane-cli" to-postgres --paradox "$work/px" $(login "$back") \
    --all --quiet --report "$work/r.json")
  [ "$(stored "$work/r.json")" = "$n" ] || { echo "to-postgres stored $(stored "$work/r.json") rows, not $n" >&2; exit 1; }
  read -r ls_t _ < <(measure "$bin/corvane-cli" tables --paradox "$work/px")
  # Every tenth table renamed, then dropped, one command each.
  names=(); renamed=()
  for ((i = 1; i <= n; i += 10)); do names+=("T$i"); renamed+=("R$i"); done
  start=$(date +%s.%N)
  for ((i = 0; i < ${#names[@]}; i++)); do
    "$bin/corvane-cli" rename --paradox "$work/px" "${names[i]}" "${renamed[i]}" 2>>"$work/err" >/dev/null
  done
  rn_t=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  read -r dr_t _ < <(measure "$bin/corvane-cli" drop --paradox "$work/px" "${renamed[@]}")
  left=$(ls "$work/px" | grep -ci '^R[0-9]*\.db$' || true)
  [ "$left" = 0 ] || { echo "$left renamed tables not dropped" >&2; exit 1; }
  printf "%-7s %-28s %-28s %-12s %-12s %-12s\n" "$n" \
    "$(per_table "$px_t" "$n") (cpu $(per_table "$px_c" "$n"))" \
    "$(per_table "$pg_t" "$n") (cpu $(per_table "$pg_c" "$n"))" \
    "$(per_table "$ls_t" "$n")" "$(per_table "$rn_t" "${#names[@]}")" "$(per_table "$dr_t" "${#names[@]}")"
done
