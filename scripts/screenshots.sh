#!/usr/bin/env bash
# Takes the pictures of docs/screenshots again, as a user sees the windows:
# on a 1280x1024 Xvfb screen with a light window manager (openbox), so
# title bars and frames show. Each picture starts the program with its own
# throwaway settings folder; your own settings stay untouched.
# Needs a build (scripts/build.sh) and a PostgreSQL to reach through
# CORVANE_TEST_PG* (scripts/test.sh exports them for its cluster); the
# failure picture creates and drops a table "AAMEMO" in that database.
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
mkdir -p "${2:-docs/screenshots}"
out=$(cd "${2:-docs/screenshots}" && pwd)
if [ -z "${CORVANE_TEST_PGHOST:-}" ]; then
  echo "set CORVANE_TEST_PGHOST/PORT/USER/PASSWORD/DATABASE (see scripts/test.sh)" >&2
  exit 2
fi

# The tools, from Debian's archive when missing.
need=()
for tool in openbox:openbox xdotool:xdotool import:imagemagick xvfb-run:xvfb psql:postgresql-client; do
  command -v "${tool%%:*}" >/dev/null || need+=("${tool#*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Everything below runs on its own X screen with the window manager.
if [ -z "${CORVANE_SHOTS_INSIDE:-}" ]; then
  exec env CORVANE_SHOTS_INSIDE=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$out"
fi
unset QT_QPA_PLATFORM  # the real X screen, not the tests' offscreen one
openbox >/dev/null 2>&1 &
wm=$!
scratch=$(mktemp -d)
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$wm" 2>/dev/null || true
  PGHOST=$CORVANE_TEST_PGHOST PGPORT=$CORVANE_TEST_PGPORT PGUSER=$CORVANE_TEST_PGUSER \
    PGPASSWORD=$CORVANE_TEST_PGPASSWORD PGDATABASE=$CORVANE_TEST_PGDATABASE \
    psql -qc 'DROP TABLE IF EXISTS "AAMEMO"' >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
sleep 1

# A settings folder holding the given "Key=value" lines.
settings() {
  local dir
  dir=$(mktemp -d "$scratch/cfg.XXXX")
  mkdir -p "$dir/Vantorel"
  { echo "[Corvane]"; printf '%s\n' "$@"; } >"$dir/Vantorel/settings.ini"
  echo "$dir"
}

# The login of the PostgreSQL to show, and a folder of sample tables.
samples="$scratch/Samples"
cp -r "$build/bin/Samples" "$samples"
login=("ParadoxFolder=$samples" "Server=$CORVANE_TEST_PGHOST" "Port=$CORVANE_TEST_PGPORT"
  "User=$CORVANE_TEST_PGUSER" "Password=$CORVANE_TEST_PGPASSWORD"
  "Database=$CORVANE_TEST_PGDATABASE")

# start CONFIG [PROGRAM_DIR]: the program with that settings folder.
start() {
  XDG_CONFIG_HOME=$1 CORVANE_PROGRAM_DIR=${2:-$build/bin} "$build/bin/corvane" >/dev/null 2>&1 &
  app=$!
}
stop() {
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=""
}
# The visible window titled exactly TITLE.
window() { xdotool search --sync --onlyvisible --name "^$1\$" | tail -1; }
# shoot TITLE FILE: the window with its frame and title bar.
shoot() {
  local id
  id=$(window "$1")
  sleep 1.5  # let it paint
  import -frame -window "$id" "$out/$2"
  echo "$out/$2"
}

# The login window at a first start, with the skin and without it.
start "$(settings)"
shoot Corvane login-window.png
# Its "Help" box: the download address on a line of its own, whole.
xdotool mousemove --window "$(window Corvane)" 392 274 click 1
sleep 0.5
import -frame -window "$(xdotool getactivewindow)" "$out/help-box.png"
echo "$out/help-box.png"
stop
plain="$scratch/plain"
mkdir -p "$plain"
cp "$build/bin/HAND-M.CUR" "$plain/"
start "$(settings)" "$plain"
shoot Corvane login-window-unskinned.png
stop

# The tables window by the quick path, at its designed size and enlarged.
start "$(settings "${login[@]}")"
shoot Corvane tables-window.png
stop
start "$(settings "${login[@]}" "TablesWindowSize=860x620")"
shoot Corvane tables-window-enlarged.png
stop

# A failure dialog: a row whose date Paradox cannot hold, beside a 300 KB
# memo that the statement quotes.
PGHOST=$CORVANE_TEST_PGHOST PGPORT=$CORVANE_TEST_PGPORT PGUSER=$CORVANE_TEST_PGUSER \
  PGPASSWORD=$CORVANE_TEST_PGPASSWORD PGDATABASE=$CORVANE_TEST_PGDATABASE psql -q <<'SQL'
DROP TABLE IF EXISTS "AAMEMO";
CREATE TABLE "AAMEMO" (id int, due date, body text);
INSERT INTO "AAMEMO" VALUES (1, 'infinity', repeat('Long memo text ', 20480) || 'end');
SQL
start "$(settings "${login[@]}")"
tables=$(window Corvane)
sleep 1
# "AAMEMO" sorts first in the PostgreSQL list; then "Send Table/s To Paradox".
xdotool mousemove --window "$tables" 40 40 click 1
sleep 0.5
xdotool mousemove --window "$tables" 135 194 click 1
shoot "Application Error" failure-dialog.png
stop
