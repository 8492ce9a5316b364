#!/usr/bin/env bash
# The two table lists at size: a folder tree of about 10,000 folders (one
# table each) and a database of 10,000 tables, each listed by our catalog
# (time, pump service, peak memory at a tenth and at full size) beside a
# peer doing the same listing in the same run: find for the tree, psql for
# the database. The database part needs CORVANE_TEST_PG* (scripts/test.sh
# exports them) and is skipped without them.
# Usage: bench/catalog_bench.sh [BUILD_DIR] [FOLDERS_PER_LEVEL]
set -euo pipefail

build=${1:-build}
per_level=${2:-100}  # per_level^2 leaf folders
bin="$build/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target corvane-cli catalog_bench >/dev/null

# Runs "$@" with output to $work/out; prints "seconds peak_kib".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out"
  cat "$work/time"
}
ratio() {
  awk -v peer="$1" -v ours="$2" -v what="$3" 'BEGIN {
    if (ours <= 0) ours = 0.005; if (peer <= 0) peer = 0.005
    printf "ratio: %s takes %.2fx the time of its peer\n", what, ours / peer }'
}

# Leaf folders a/b under the root, one table file in each leaf.
make_tree() {
  local root=$1 n=$2
  for ((i = 0; i < n; i++)); do
    for ((j = 0; j < n; j++)); do mkdir -p "$root/d$i/e$j"; done
    (cd "$root/d$i" && for ((j = 0; j < n; j++)); do : >"e$j/t${i}_$j.db"; done)
  done
}

tree_part() {
  local small=$((per_level / 3)) root="$work/tree"
  make_tree "$work/small" "$small"
  make_tree "$root" "$per_level"
  local folders
  folders=$(find "$root" -type d | wc -l)
  echo "== Paradox folder tree: $folders folders, $((per_level * per_level)) tables"
  read -r t m < <(measure "$bin/catalog_bench" paradox "$root")
  echo "catalog: $(cat "$work/out")"
  read -r t m < <(measure "$bin/corvane-cli" tables --paradox "$root")
  local ours_lines ours_t=$t ours_m=$m
  ours_lines=$(wc -l <"$work/out")
  read -r t m < <(measure find "$root" -type f -iname '*.db' ! -name '~*')
  echo "corvane-cli tables: ${ours_t}s, $ours_lines names, peak RSS $((ours_m / 1024)) MiB"
  echo "find:               ${t}s, $(wc -l <"$work/out") names, peak RSS $((m / 1024)) MiB"
  ratio "$t" "$ours_t" "corvane-cli tables --paradox"
  read -r t m < <(measure "$bin/corvane-cli" tables --paradox "$work/small")
  echo "memory: $((small * small)) tables peak RSS $((m / 1024)) MiB;" \
       "$((per_level * per_level)) tables $((ours_m / 1024)) MiB"
}

pg_part() {
  if [ -z "${CORVANE_TEST_PGHOST:-}" ]; then
    echo "== PostgreSQL: skipped (no CORVANE_TEST_PG*; run inside scripts/test.sh's server)"
    return
  fi
  local db=corvane_bench_catalog tables=$((per_level * per_level))
  export PGHOST=$CORVANE_TEST_PGHOST PGPORT=$CORVANE_TEST_PGPORT PGUSER=$CORVANE_TEST_PGUSER \
         PGPASSWORD=${CORVANE_TEST_PGPASSWORD:-}
  psql -q -d "$CORVANE_TEST_PGDATABASE" -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db"
  local made=0
  while [ "$made" -lt "$tables" ]; do  # in steps, so one transaction holds few locks
    psql -q -d "$db" -c "DO \$\$ BEGIN FOR i IN $((made + 1))..$((made + 500)) LOOP
      EXECUTE format('CREATE TABLE bench_t%s (a int)', i); END LOOP; END \$\$;"
    made=$((made + 500))
    [ "$made" -eq 1000 ] && small_rss=$(run_pg_cli "$db")
  done
  local login=("$PGHOST" "$PGPORT" "$PGUSER" "$PGPASSWORD" "$db")
  echo "== PostgreSQL: $(psql -Atd "$db" -c 'select count(*) from pg_tables') rows in pg_tables"
  read -r t m < <(measure "$bin/catalog_bench" postgres "${login[@]}")
  echo "catalog: $(cat "$work/out")"
  read -r t m < <(measure "$bin/corvane-cli" tables --postgres --server "$PGHOST" --port "$PGPORT" \
                    --user "$PGUSER" --password "$PGPASSWORD" --database "$db")
  local ours_t=$t ours_m=$m ours_lines
  ours_lines=$(wc -l <"$work/out")
  read -r t m < <(measure psql -Atd "$db" -c "select tablename from pg_tables;")
  echo "corvane-cli tables: ${ours_t}s, $ours_lines names, peak RSS $((ours_m / 1024)) MiB"
  echo "psql:               ${t}s, $(wc -l <"$work/out") names, peak RSS $((m / 1024)) MiB"
  ratio "$t" "$ours_t" "corvane-cli tables --postgres"
  echo "memory: about 1,000 tables peak RSS $((small_rss / 1024)) MiB;" \
       "$tables tables $((ours_m / 1024)) MiB"
  psql -q -d "$CORVANE_TEST_PGDATABASE" -c "DROP DATABASE $db"
}

# Peak RSS (KiB) of corvane-cli listing database $1.
run_pg_cli() {
  /usr/bin/time -f "%M" -o "$work/rss" "$bin/corvane-cli" tables --postgres --server "$PGHOST" \
    --port "$PGPORT" --user "$PGUSER" --password "$PGPASSWORD" --database "$1" >/dev/null
  cat "$work/rss"
}

tree_part
pg_part
