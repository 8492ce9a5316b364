#!/usr/bin/env bash
# As the postgres user with no host given, corvane-cli logs in as psql does
# on a stock Debian server: over libpq's default socket, by peer
# authentication. A throwaway cluster with Debian's pg_hba rules for local
# sockets listens there (on a free port, no TCP). Needs root to act as
# postgres; skips otherwise.
#   peer_login_test.sh PROGRAM_DIR
set -euo pipefail
cli=$1/corvane-cli
if [ "$(id -u)" -ne 0 ] || ! id postgres >/dev/null 2>&1; then
  echo "SKIP: needs root and a postgres user to log in by peer authentication"
  exit 77
fi
socket_dir=/var/run/postgresql
if [ ! -d "$socket_dir" ] || ! runuser -u postgres -- test -w "$socket_dir"; then
  echo "SKIP: libpq's default socket folder $socket_dir is not there for postgres"
  exit 77
fi
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
work=$(mktemp -d /tmp/corvane-peer.XXXXXX)
chown postgres: "$work"
as_pg=(runuser -u postgres --)
cleanup() {
  "${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"${as_pg[@]}" "$pgbin/initdb" -D "$work/data" -U postgres -A peer -E UTF8 --locale=C.UTF-8 >/dev/null
cat > "$work/data/pg_hba.conf" <<'HBA'
local   all             postgres                                peer
local   all             all                                     peer
host    all             all             127.0.0.1/32            scram-sha-256
host    all             all             ::1/128                 scram-sha-256
HBA
# A port no socket in the shared folder has yet.
for port in $(shuf -i 20000-60000 -n 50); do
  [ -e "$socket_dir/.s.PGSQL.$port" ] || break
done
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/data" -l "$work/log" -w -o \
  "-c listen_addresses= -c port=$port -c unix_socket_directories=$socket_dir -c fsync=off" \
  start >/dev/null
"${as_pg[@]}" "$pgbin/psql" -X -q -h "$socket_dir" -p "$port" -d postgres \
  -c 'CREATE TABLE peer_probe(id int)'

mkdir -p "$work/home" "$work/config"
chown postgres: "$work/home" "$work/config"
run() {
  "${as_pg[@]}" env -u PGHOST -u PGHOSTADDR -u PGUSER -u PGDATABASE -u PGPASSWORD -u PGSERVICE \
    PGPORT="$port" HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$cli" "$@"
}
status=0
out=$(run tables --postgres 2>&1) || status=$?
if [ "$status" -ne 0 ] || ! grep -qx 'peer_probe' <<<"$out"; then
  echo "FAIL: tables --postgres as postgres over the default socket (exit $status):"
  echo "$out"
  exit 1
fi
# -w changes nothing where no password is asked for; -U names the same user.
out=$(run tables --postgres -w -U postgres 2>&1) || { echo "FAIL: -w -U postgres: $out"; exit 1; }
grep -qx 'peer_probe' <<<"$out" || { echo "FAIL: -w -U postgres listed: $out"; exit 1; }
echo "ok: peer login over $socket_dir/.s.PGSQL.$port"
