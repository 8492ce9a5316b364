# Sourced by the bench scripts that need the test PostgreSQL.

# Stops the run unless CORVANE_TEST_PG* name a server.
bench_need_postgres() {
  if [ -z "${CORVANE_TEST_PGHOST:-}" ]; then
    echo "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE (see scripts/test.sh)" >&2
    exit 2
  fi
}

# That server for psql and the other libpq tools, a work folder in $work
# and a new database named $db of the run's own, made the default for psql
# (PGDATABASE); both go when the script exits.
bench_own_database() {
  export PGHOST=$CORVANE_TEST_PGHOST PGPORT=$CORVANE_TEST_PGPORT PGUSER=$CORVANE_TEST_PGUSER
  export PGPASSWORD=${CORVANE_TEST_PGPASSWORD:-}
  db="$1_$$"
  work=$(mktemp -d)
  trap 'psql -d "$CORVANE_TEST_PGDATABASE" -qc "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  psql -d "$CORVANE_TEST_PGDATABASE" -qc "CREATE DATABASE $db" >/dev/null
  export PGDATABASE=$db
}
