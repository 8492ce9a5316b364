#!/usr/bin/env bash
# Quoted shell-style patterns copy the tables they match, both ways; one that
# matches nothing is told like a name not found.
#   patterns_test.sh PROGRAM_DIR   (needs the test PostgreSQL: CORVANE_TEST_PG*)
set -uo pipefail
bin=$1
[ -n "${CORVANE_TEST_PGHOST:-}" ] || { echo "no test PostgreSQL"; exit 77; }
work=$(mktemp -d /tmp/corvane-patterns.XXXXXX)
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME" "$work/back"
login=(--server "$CORVANE_TEST_PGHOST" --port "$CORVANE_TEST_PGPORT" --user "$CORVANE_TEST_PGUSER"
       --password "${CORVANE_TEST_PGPASSWORD:-}" --database "$CORVANE_TEST_PGDATABASE")
cli=$bin/corvane-cli
cleanup() { "$cli" drop --postgres "${login[@]}" CUSTOMER CUST_PAT >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
cp "$bin/Samples/CUSTOMER.db" "$work/CUST_PAT.db"
[ -f "$bin/Samples/CUSTOMER.mb" ] && cp "$bin/Samples/CUSTOMER.mb" "$work/CUST_PAT.mb"
cp "$bin"/Samples/CUSTOMER.* "$bin"/Samples/PARTS.* "$work/"

# To PostgreSQL: the pattern in lower case still meets the Paradox names.
"$cli" to-postgres --paradox "$work" "${login[@]}" --overwrite 'cust*' || fail "to-postgres 'cust*'"
tables=$("$cli" tables --postgres "${login[@]}")
grep -qx 'CUSTOMER' <<<"$tables" && grep -qx 'CUST_PAT' <<<"$tables" || fail "cust* copied: $tables"
if grep -qx 'PARTS' <<<"$tables"; then fail "PARTS matched cust*"; fi

# Back to Paradox: PostgreSQL's names match as they are spelled.
"$cli" to-paradox --paradox "$work/back" "${login[@]}" --overwrite 'CUST_*' || fail "to-paradox 'CUST_*'"
[ "$(ls "$work/back" | grep -ic '\.db$')" -eq 1 ] || fail "CUST_* brought back: $(ls "$work/back")"
diff <("$cli" dump "$work/CUST_PAT.db") <("$cli" dump "$work/back/CUST_PAT.db") || fail "rows changed"

# A pattern that matches nothing: exit 1, told by name, nothing written.
for cmd in to-postgres to-paradox; do
  out=$("$cli" "$cmd" --paradox "$work/back" "${login[@]}" --overwrite 'NOPE*' 2>&1); rc=$?
  [ "$rc" -eq 1 ] && grep -q 'NOPE\*' <<<"$out" || fail "$cmd 'NOPE*': exit $rc: $out"
done
echo "patterns match both ways"
