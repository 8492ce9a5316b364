#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts a
# throwaway PostgreSQL (loopback, free port, removed afterwards) and runs
# every test offscreen. Exits non-zero on any failure.
#   --sanitize   build into build-asan/ with address and undefined-behaviour
#                sanitizers and run the same tests there
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  export CORVANE_BUILD_DIR=${CORVANE_BUILD_DIR:-$top/build-asan}
  extra=(-DCORVANE_SANITIZE=ON)
  export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp:print_suppressions=0"
fi
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" -DCORVANE_WERROR=ON "${extra[@]}"
build=${CORVANE_BUILD_DIR:-$top/build}

pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
work=$(mktemp -d /tmp/corvane-pg.XXXXXX)
chmod 755 "$work"
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$work"
  as_pg=(runuser -u postgres --)
fi
cleanup() {
  "${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null \
       || shuf -i 20000-60000 -n 1)
pwfile="$work/pw"
echo "corvane-test" > "$pwfile"
[ ${#as_pg[@]} -gt 0 ] && chown postgres: "$pwfile"
"${as_pg[@]}" "$pgbin/initdb" -D "$work/data" -U corvane --pwfile="$pwfile" -A scram-sha-256 \
  -E UTF8 --locale=C.UTF-8 >/dev/null
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/data" -l "$work/log" -w \
  -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$work -c fsync=off" start >/dev/null
PGPASSWORD=corvane-test "$pgbin/createdb" -h 127.0.0.1 -p "$port" -U corvane corvane_test

export CORVANE_TEST_PGHOST=127.0.0.1 CORVANE_TEST_PGPORT=$port CORVANE_TEST_PGUSER=corvane \
       CORVANE_TEST_PGPASSWORD=corvane-test CORVANE_TEST_PGDATABASE=corvane_test
# Real Paradox tables: CI clones the repository beside a shared folder of them.
if [ -z "${CORVANE_PARADOX_SAMPLES:-}" ] && [ -d "$top/../shared/paradox-samples" ]; then
  export CORVANE_PARADOX_SAMPLES=$(cd "$top/../shared/paradox-samples" && pwd)
fi
export QT_QPA_PLATFORM=offscreen
# Settings written by tests stay in the throwaway folder.
export XDG_CONFIG_HOME="$work/config" HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
[ ${#as_pg[@]} -gt 0 ] && chmod 777 "$work"

cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600

# A clone in a private folder (a home folder of mode 0700): the test that runs
# the program as another user must still pass from there, not skip or fail.
private=$(mktemp -d "$work/private.XXXXXX")
mkdir "$private/build"
cp -a "$build/bin" "$private/build/bin"
cp "$build/tests/maintenance_cli_test" "$private/build/"
out=$(cd "$private/build" && CORVANE_PROGRAM_DIR="$private/build/bin" ./maintenance_cli_test \
        --gtest_filter=MaintenanceCliTest.AFolderTheUserCannotWriteFailsTheDrop 2>&1) \
  || { echo "$out"; echo "the build in a private folder fails a test" >&2; exit 1; }
if [ "$(id -u)" -eq 0 ] && grep -q '^\[  SKIPPED \]' <<<"$out"; then
  echo "$out"; echo "the build in a private folder skips a test another user runs" >&2; exit 1
fi
echo "private folder check passed"
