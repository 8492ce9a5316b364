#!/usr/bin/env bash
# Do two builds write the same tables? Builds corvane-cli of a base commit
# and of a second commit (or the working tree) in folders of their own,
# then, for every folder of Paradox tables given (each sub-folder holding
# tables counts as one):
#   - sends its tables to PostgreSQL with each build, plain and with
#     --keep-types, each into a database of its own, and compares the two
#     builds' databases (pg_dump);
#   - writes the base build's databases back to Paradox with both builds
#     (one source, two writers), plain and --keep-types, and each build's
#     own database back with that build (the round trip);
#   - compares every file written (.db, .mb, .px, .xnn ...) byte for byte,
#     except the header's write time (a u32 at 0x60 in the .db and its index
#     files, see paradox-format.md); the run first writes one table twice
#     with one build a second apart to show that nothing else changes
#     between two writes.
# Prints one line per difference and exits 1 when any was found.
# Needs CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster) and
# a user that may create databases.
# Usage: bench/compare_written.sh BASE [OTHER|--worktree] [FOLDER...]
#   OTHER defaults to the working tree; FOLDER to $CORVANE_PARADOX_SAMPLES.
#   COMPARE_WORK=DIR keeps the builds and written files there (reused).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
base=$1
other=${2:---worktree}
shift $(($# >= 2 ? 2 : 1))
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=("${CORVANE_PARADOX_SAMPLES:?give a folder of Paradox tables}")
. "$top/bench/bench_pg.sh"
bench_need_postgres
export PGHOST=$CORVANE_TEST_PGHOST PGPORT=$CORVANE_TEST_PGPORT PGUSER=$CORVANE_TEST_PGUSER
export PGPASSWORD=${CORVANE_TEST_PGPASSWORD:-} PGDATABASE=$CORVANE_TEST_PGDATABASE
export PGOPTIONS="-c client_min_messages=warning"

work=${COMPARE_WORK:-$(mktemp -d)}
mkdir -p "$work"
prefix="cmpw_$$"
cleanup() {
  local d
  for d in $(psql -Atc "SELECT datname FROM pg_database WHERE datname LIKE '${prefix}\_%'"); do
    psql -qc "DROP DATABASE IF EXISTS $d" >/dev/null 2>&1 || true
  done
  [ -n "${COMPARE_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME" "$HOME"

# Builds corvane-cli of commit $1 (or the working tree) into $work/build-$2.
build_cli() {
  local rev=$1 name=$2 src
  if [ "$rev" = --worktree ]; then
    src=$top
  else
    src="$work/src-$name"
    rm -rf "$src" && mkdir -p "$src"
    git -C "$top" archive "$rev" | tar -x -C "$src"
  fi
  cmake -S "$src" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$work/build-$name" --target corvane-cli corvane_resources >/dev/null
  echo "$work/build-$name/bin/corvane-cli"
}

login() { echo --server "$PGHOST" --port "$PGPORT" --user "$PGUSER" --password "$PGPASSWORD" --database "$1"; }

new_db() {
  local d="${prefix}_$1"
  psql -qc "DROP DATABASE IF EXISTS $d" -qc "CREATE DATABASE $d" >/dev/null
  echo "$d"
}

# Runs a copy; its output and exit status go to $log for comparison.
copy() {
  local log=$1
  shift
  local rc=0
  "$@" >"$log" 2>&1 </dev/null || rc=$?
  echo "exit $rc" >>"$log"
}

# The file's bytes with the write time of a table or index header zeroed.
masked() {
  case "${1,,}" in
    *.db | *.px | *.x[0-9a-f][0-9a-f] | *.y[0-9a-f][0-9a-f] | *.xg[0-9a-f] | *.yg[0-9a-f])
      python3 - "$1" <<'EOF'
import sys
b = bytearray(open(sys.argv[1], 'rb').read())
if len(b) >= 0x64:
    b[0x60:0x64] = b'\0\0\0\0'
sys.stdout.buffer.write(b)
EOF
      ;;
    *) cat "$1" ;;
  esac
}

differences=0
differ() { echo "DIFFERS: $*"; differences=$((differences + 1)); }

# Compares two folders of written files, names (case kept) and bytes.
compare_folders() {
  local a=$1 b=$2 what=$3 f
  if ! diff <(cd "$a" && ls -A | sort) <(cd "$b" && ls -A | sort) >"$work/names.diff"; then
    differ "$what: other files written: $(tr '\n' ' ' <"$work/names.diff")"
  fi
  for f in $(cd "$a" && ls -A); do
    [ -f "$b/$f" ] || continue
    if ! cmp -s <(masked "$a/$f") <(masked "$b/$f"); then
      differ "$what: $f (first bytes that differ: $(cmp -l <(masked "$a/$f") <(masked "$b/$f") 2>/dev/null |
        head -3 | awk '{ printf "0x%x ", $1 - 1 }'))"
    fi
  done
}

compare_logs() {
  # Timings (the only figures with a decimal point) aside, both should say the same.
  if ! diff -q <(sed -E 's/[0-9]+\.[0-9]+//g' "$1") <(sed -E 's/[0-9]+\.[0-9]+//g' "$2") >/dev/null; then
    differ "$3: the CLI's output differs (see $1 and $2)"
  fi
}

echo "building $base and $other ..."
cli_a=$(build_cli "$base" a)
cli_b=$(build_cli "$other" b)

tables_folders() {
  local f
  for f in "$@"; do
    find "$f" -type f -iname '*.db' -printf '%h\n'
  done | sort -u
}

# Two writes by one build a second apart: only the masked bytes may change.
first=$(tables_folders "${folders[@]}" | head -1)
probe_db=$(new_db probe)
copy "$work/probe.log" "$cli_b" to-postgres --paradox "$first" $(login "$probe_db") --all --overwrite
for n in 1 2; do
  rm -rf "$work/probe$n" && mkdir -p "$work/probe$n"
  copy "$work/probe$n.log" "$cli_b" to-paradox --paradox "$work/probe$n" $(login "$probe_db") --all
  sleep 1.1  # a different write time second
done
for f in $(cd "$work/probe1" && ls -A); do
  offsets=$( (cmp -l "$work/probe1/$f" "$work/probe2/$f" 2>/dev/null || true) | awk '{ printf "0x%x ", $1 - 1 }')
  [ -z "$offsets" ] || echo "two writes of $f differ at: $offsets"
done
compare_folders "$work/probe1" "$work/probe2" "one build, two writes"

n=0
while IFS= read -r folder; do
  n=$((n + 1))
  name="f$n"
  echo "== $folder"
  out="$work/out/$name"
  rm -rf "$out" && mkdir -p "$out"
  for kind in plain kept; do
    types=()
    [ "$kind" = plain ] || types=(--keep-types)
    for side in a b; do
      cli=cli_$side
      db=$(new_db "${name}_${kind}_$side")
      copy "$out-$kind-$side-to-postgres.log" "${!cli}" to-postgres --paradox "$folder" \
        $(login "$db") --all "${types[@]}"
    done
    compare_logs "$out-$kind-a-to-postgres.log" "$out-$kind-b-to-postgres.log" "$folder to PostgreSQL ($kind)"
    for side in a b; do
      pg_dump --no-owner -d "${prefix}_${name}_${kind}_$side" | grep -v '^--\|^\\\(un\)\{0,1\}restrict ' >"$out-$kind-$side.sql"
    done
    if ! diff "$out-$kind-a.sql" "$out-$kind-b.sql" >"$out-$kind.sql.diff"; then
      differ "$folder to PostgreSQL ($kind): the two databases differ ($out-$kind.sql.diff)"
    fi
    for side in a b; do
      cli=cli_$side
      for source in a "$side"; do
        dir="$out/$kind-from-$source-by-$side"
        [ -d "$dir" ] && continue
        mkdir -p "$dir"
        copy "$dir.log" "${!cli}" to-paradox --paradox "$dir" \
          $(login "${prefix}_${name}_${kind}_$source") --all "${types[@]}"
      done
    done
    compare_folders "$out/$kind-from-a-by-a" "$out/$kind-from-a-by-b" "$folder back to Paradox, one source ($kind)"
    compare_logs "$out/$kind-from-a-by-a.log" "$out/$kind-from-a-by-b.log" "$folder back to Paradox ($kind)"
    compare_folders "$out/$kind-from-a-by-a" "$out/$kind-from-b-by-b" "$folder round trip ($kind)"
    echo "   $kind: $(ls "$out/$kind-from-a-by-b" | wc -l) files written by each build"
  done
done < <(tables_folders "${folders[@]}")

if [ "$differences" -eq 0 ]; then
  echo "same: every file written by both builds is the same, write time aside"
else
  echo "$differences differences"
  exit 1
fi
