#!/usr/bin/env bash
# Takes the pictures of docs/screenshots again, as a user sees the windows:
# on a 1280x1024 Xvfb screen with a light window manager (openbox), so
# title bars and frames show. On the way it checks what only a window
# manager shows: the tables window's outer height on 20 starts in a row
# (CORVANE_SHOTS_STARTS), a stored size too large for the screen, the message for an empty
# selection, the folder chooser's title, a failure dialog within the screen;
# it exits non-zero when one of them is wrong. Each picture starts the program with its own
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
for tool in openbox:openbox xdotool:xdotool xprop:x11-utils import:imagemagick xvfb-run:xvfb \
  psql:postgresql-client; do
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
# The visible window titled exactly TITLE (the newest, when several are).
window() {
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | tail -1 ||
    fail "no window titled \"$1\" appeared"
}
# How many visible windows are titled exactly TITLE.
count() { xdotool search --onlyvisible --name "^$1\$" | wc -l; }
# Waits, up to 20 s, until N visible windows are titled exactly TITLE.
until_count() {
  local i
  for ((i = 0; i < 200; i++)); do
    [ "$(count "$1")" -eq "$2" ] && return 0
    sleep 0.1
  done
  fail "not $2 windows titled \"$1\" after 20 s"
}
fail() {
  echo "screenshots: $*" >&2
  exit 1
}
# The outer size of a window, frame and title bar included: "W H".
outer_size() {
  local w h left right top bottom
  eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(WIDTH|HEIGHT)=')"
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -d ',' | awk '{print $3, $4, $5, $6}')
  echo "$((WIDTH + left + right)) $((HEIGHT + top + bottom))"
}
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
until_count Corvane 2
sleep 0.5  # let it paint
import -frame -window "$(xdotool getactivewindow)" "$out/help-box.png"
echo "$out/help-box.png"
xdotool key Return
until_count Corvane 1
# The folder button's chooser carries exactly its title.
xdotool mousemove --window "$(window Corvane)" 482 42 click 1
window "Please select folder:" >/dev/null
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
tables=$(window Corvane)
read -r tw th < <(outer_size "$tables")
[ "$th" -eq 398 ] || fail "the tables window is $th pixels high with its frame, not 398 (5965 twips)"
# Nothing clicked yet: "Send Table/s To Paradox" must say that nothing is selected.
xdotool mousemove --window "$tables" 135 194 click 1
sleep 1
[ "$(count Corvane)" -eq 2 ] || fail "Send Table/s To Paradox with nothing selected showed no message"
import -frame -window "$(window Corvane)" "$out/nothing-selected.png"
echo "$out/nothing-selected.png"
xdotool key Return
stop
start "$(settings "${login[@]}" "TablesWindowSize=860x620")"
shoot Corvane tables-window-enlarged.png
stop

# The frame comes from the window manager some time after the window shows,
# sooner or later from one start to the next: its height must be right on
# every start, however late the frame came.
starts=${CORVANE_SHOTS_STARTS:-20}
heights=()
for ((i = 1; i <= starts; i++)); do
  start "$(settings "${login[@]}")"
  tables=$(window Corvane)
  sleep 2.5  # the window's last look at its frame is 2 s after it shows
  read -r tw th < <(outer_size "$tables")
  heights+=("$th")
  stop
done
echo "tables window heights over $starts starts: ${heights[*]}"
for th in "${heights[@]}"; do
  [ "$th" -eq 398 ] || fail "a start gave a tables window $th pixels high with its frame, not 398"
done
# A stored size larger than the screen: the window, frame included, fits it.
start "$(settings "${login[@]}" "TablesWindowSize=1600x1400")"
tables=$(window Corvane)
sleep 2.5
read -r tw th < <(outer_size "$tables")
stop
echo "a stored size of 1600x1400 opens as ${tw}x${th} with its frame"
[ "$tw" -le 1280 ] && [ "$th" -le 1024 ] || fail "a stored size gave a window of ${tw}x${th}, beyond the screen"

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
read -r bw bh < <(outer_size "$(window "Application Error")")
[ "$bw" -le 1280 ] && [ "$bh" -le 1024 ] || fail "the failure dialog is ${bw}x${bh}, beyond the screen"
stop
