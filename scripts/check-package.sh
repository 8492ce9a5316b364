#!/usr/bin/env bash
# Checks the Debian packages as a user would meet them. Needs root and a
# machine where neither is installed: installs corvane-cli alone with apt and
# sees that nothing of Qt comes with it (where Qt is installed anyway, the
# files of its dependencies say so), runs lintian and man, then as a throwaway
# user with an empty home sends a sample table to a throwaway PostgreSQL and
# back into a folder of theirs. Then installs corvane beside it, runs
# desktop-file-validate and appstreamcli, and presses the sample button of
# corvane under Xvfb. Both are purged again at the end, whatever happened.
#   scripts/check-package.sh [corvane-cli_VERSION_ARCH.deb corvane_VERSION_ARCH.deb]
#   (default: build them)
#   CORVANE_CHECK_SCREENSHOT=file.png keeps a picture of the login window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "check-package.sh: run as root (it installs the package)" >&2; exit 2; }
for name in corvane corvane-cli; do
  if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "ok installed"; then
    echo "check-package.sh: $name is installed already; not touching it" >&2
    exit 2
  fi
done
if [ $# -eq 2 ]; then debs=("$1" "$2")
elif [ $# -eq 0 ]; then mapfile -t debs < <("$top/scripts/package.sh")
else echo "usage: check-package.sh [CLI_DEB GUI_DEB]" >&2; exit 2; fi
cli_deb=$(realpath "${debs[0]}") gui_deb=$(realpath "${debs[1]}")
[ "$(dpkg-deb -f "$cli_deb" Package)" = corvane-cli ] && [ "$(dpkg-deb -f "$gui_deb" Package)" = corvane ] \
  || { echo "check-package.sh: give the corvane-cli package first, then corvane" >&2; exit 2; }
tools=(lintian desktop-file-utils appstream man-db bash-completion xvfb xdotool x11-apps postgresql)
[ -n "${CORVANE_CHECK_SCREENSHOT:-}" ] && tools+=(imagemagick)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/corvane-check.XXXXXX)
chmod 755 "$work"
user=corvck$$
failures=0
check() {  # check "what" command...: one line per check, the output of a failure
  local what=$1; shift
  if out=$("$@" 2>&1); then echo "ok    $what"; else
    echo "FAIL  $what"; printf '%s\n' "$out" | sed 's/^/      /'; failures=$((failures + 1)); fi
}
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
cleanup() {
  [ -n "${gui:-}" ] && kill "$gui" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  runuser -u postgres -- "$pgbin/pg_ctl" -D "$work/pg" -m immediate stop >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq corvane corvane-cli >/dev/null 2>&1 || true
  userdel "$user" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$1" >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; exit 1; }
}
# Every package corvane-cli pulls in, however deep; none may carry Qt.
qt_in_cli_dependencies() {
  local p found=0
  for p in $(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
               --no-breaks --no-replaces --no-enhances corvane-cli | grep -v '^ ' | tr -d '<>' | sort -u); do
    if dpkg -L "$p" 2>/dev/null | grep -q 'libQt6'; then echo "$p ships Qt"; found=1; fi
  done
  [ "$found" -eq 0 ]
}

# corvane-cli alone, installed with apt, every dependency with it.
apt_install "$cli_deb"
check "installs alone with apt: $(basename "$cli_deb")" test -x /usr/bin/corvane-cli -a ! -e /usr/bin/corvane
check "corvane-cli runs" corvane-cli --version
check "no Qt among corvane-cli's dependencies" qt_in_cli_dependencies
check "corvane-cli links no Qt" sh -c "! ldd /usr/bin/corvane-cli | grep -i qt"
check "lintian: corvane-cli clean" sh -c "! lintian --allow-root '$cli_deb' 2>&1 | grep '^[EW]:'"
check "lintian: corvane clean" sh -c "! lintian --allow-root '$gui_deb' 2>&1 | grep '^[EW]:'"
check "man corvane-cli" sh -c "MANPAGER=cat man corvane-cli | grep -q 'EXIT STATUS'"
check "bash completion" bash -c '. /usr/share/bash-completion/bash_completion
  . /usr/share/bash-completion/completions/corvane-cli
  COMP_LINE="corvane-cli to-pa"; COMP_POINT=${#COMP_LINE}; COMP_WORDS=(corvane-cli to-pa); COMP_CWORD=1
  _corvane_cli; [ "${COMPREPLY[*]}" = to-paradox ]'

# A throwaway PostgreSQL and a throwaway user with an empty home.
chown postgres: "$work"
echo corvane-check >"$work/pw"
runuser -u postgres -- "$pgbin/initdb" -D "$work/pg" -U corvane --pwfile="$work/pw" -A scram-sha-256 \
  -E UTF8 --locale=C.UTF-8 >/dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' \
       2>/dev/null || shuf -i 20000-60000 -n 1)
runuser -u postgres -- "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w \
  -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$work" start >/dev/null
useradd --no-create-home --home-dir "$work/home" --shell /bin/sh "$user"
mkdir -m 700 "$work/home" && chown "$user:" "$work/home"
as_user() { runuser -u "$user" -- env -i HOME="$work/home" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
login=(--server 127.0.0.1 --port "$port" --user corvane --password corvane-check --database postgres)

check "corvane-cli to-postgres of a sample table" \
  as_user corvane-cli to-postgres --paradox /usr/share/corvane/Samples "${login[@]}" CUSTOMER
as_user mkdir "$work/home/tables"
check "corvane-cli to-paradox into the user's folder" \
  as_user corvane-cli to-paradox --paradox "$work/home/tables" "${login[@]}" CUSTOMER
check "the table came back with every row" bash -c "diff \
  <(corvane-cli dump /usr/share/corvane/Samples/CUSTOMER.db) <(corvane-cli dump '$work/home/tables/CUSTOMER.db')"
check "staging database in the user's cache" test -f "$work/home/.cache/corvane/dbtemp.mdb"
check "installed files unchanged" sh -c "[ -z \"\$(dpkg --verify corvane-cli)\" ] && \
  [ \$(find /usr/share/corvane | wc -l) -eq \$(dpkg -L corvane-cli | grep -c '^/usr/share/corvane') ]"

# The window beside it.
apt_install "$gui_deb"
check "installs with apt: $(basename "$gui_deb")" test -x /usr/bin/corvane -a -x /usr/bin/corvane-cli
check "desktop-file-validate" desktop-file-validate /usr/share/applications/com.vantorel.Corvane.desktop
check "appstreamcli validate" appstreamcli validate --no-net \
  /usr/share/metainfo/com.vantorel.Corvane.metainfo.xml
check "man corvane" sh -c "MANPAGER=cat man corvane | grep -q 'Load Sample'"

# The window: the sample button points at a copy the user can write.
display=:$((90 + $$ % 100))
Xvfb "$display" -ac -screen 0 1024x768x24 >/dev/null 2>&1 & xvfb=$!
sleep 1
as_user env DISPLAY="$display" corvane >"$work/gui.log" 2>&1 & gui=$!
if window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^Corvane$' | head -n 1); then
  # "Load Sample/Example Database": its centre, in pixels, inside the window.
  DISPLAY=$display xdotool mousemove --window "$window" 144 77 click 1
  sleep 1
  if [ -n "${CORVANE_CHECK_SCREENSHOT:-}" ]; then
    DISPLAY=$display xwd -root -silent | /usr/bin/convert xwd:- "$CORVANE_CHECK_SCREENSHOT"
  fi
fi
settings="$work/home/.config/Vantorel/settings.ini"
samples="$work/home/.local/share/corvane/Samples"
check "corvane starts under Xvfb" kill -0 "$gui"
check "sample button: the folder field holds the user's copy" \
  grep -qx "ParadoxFolder=$samples" "$settings"
check "the user can write the sample folder" as_user test -w "$samples" -a -f "$samples/CUSTOMER.db"

echo "$failures failed"
[ "$failures" -eq 0 ]
