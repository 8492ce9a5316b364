#!/usr/bin/env bash
# cmake --install into a scratch prefix: every file lands where a desktop and
# the programs look for it, and the validators accept them. The installed
# corvane-cli finds its files in share/corvane, stages in the user's cache and
# leaves the installed files alone while a sample table goes to the test
# PostgreSQL and back (when the test script started one).
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/corvane-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

p=$work/usr
cmake --install "$build" --prefix "$p" >/dev/null
for f in bin/corvane-cli share/corvane/installed share/corvane/dbtemp.mdb share/corvane/HAND-M.CUR \
         share/corvane/x/o.cjs share/corvane/Samples/CUSTOMER.db share/corvane/Samples/CUSTOMER.mb \
         share/applications/com.vantorel.Corvane.desktop \
         share/metainfo/com.vantorel.Corvane.metainfo.xml share/man/man1/corvane.1.gz \
         share/man/man1/corvane-cli.1.gz share/bash-completion/completions/corvane-cli \
         share/icons/hicolor/16x16/apps/com.vantorel.Corvane.png \
         share/icons/hicolor/256x256/apps/com.vantorel.Corvane.png share/doc/corvane/copyright; do
  [ -s "$p/$f" ] || fail "cmake --install left out $f"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$p/share/applications/com.vantorel.Corvane.desktop"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$p/share/metainfo/com.vantorel.Corvane.metainfo.xml" >/dev/null \
    || appstreamcli validate --no-net "$p/share/metainfo/com.vantorel.Corvane.metainfo.xml" >&2
fi
zcat "$p/share/man/man1/corvane-cli.1.gz" | grep -q '^\.SH EXIT STATUS' || fail "man page lacks EXIT STATUS"

# The command line's component alone is what the corvane-cli package holds:
# a server gets everything it needs and nothing of Qt.
c=$work/cli
cmake --install "$build" --prefix "$c" --component cli >/dev/null
for f in bin/corvane-cli share/corvane/dbtemp.mdb share/corvane/Samples/CUSTOMER.db \
         share/man/man1/corvane-cli.1.gz share/bash-completion/completions/corvane-cli \
         share/doc/corvane-cli/copyright share/doc/corvane-cli/changelog.gz; do
  [ -s "$c/$f" ] || fail "the cli component left out $f"
done
[ -z "$(find "$c" -path '*/bin/corvane' -o -name '*.desktop' -o -name '*.png')" ] \
  || fail "the cli component holds the window's files"
if ldd "$c/bin/corvane-cli" | grep -i 'libQt'; then fail "corvane-cli links Qt"; fi
grep -q '^License: Apache-2.0' "$p/share/doc/corvane/copyright" || fail "copyright names no licence"
grep -q '<project_license>Apache-2.0<' "$p/share/metainfo/com.vantorel.Corvane.metainfo.xml" \
  || fail "the AppStream data names no licence"

[ -n "${CORVANE_TEST_PGHOST:-}" ] || { echo "no test PostgreSQL: file checks only"; exit 0; }
unset CORVANE_PROGRAM_DIR XDG_CACHE_HOME XDG_DATA_HOME
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME" "$work/tables"
cli=$p/bin/corvane-cli
login=(--server "$CORVANE_TEST_PGHOST" --port "$CORVANE_TEST_PGPORT" --user "$CORVANE_TEST_PGUSER"
       --password "${CORVANE_TEST_PGPASSWORD:-}" --database "$CORVANE_TEST_PGDATABASE")
shipped() { (cd "$p/share/corvane" && find . -type f -exec md5sum {} + | sort); }
before=$(shipped)
"$cli" to-postgres --paradox "$p/share/corvane/Samples" "${login[@]}" --overwrite PARTS
"$cli" to-paradox --paradox "$work/tables" "${login[@]}" PARTS
"$cli" drop --postgres "${login[@]}" PARTS >/dev/null
diff <("$cli" dump "$p/share/corvane/Samples/PARTS.db") <("$cli" dump "$work/tables/PARTS.db") \
  || fail "PARTS changed on its way to PostgreSQL and back"
[ -f "$HOME/.cache/corvane/dbtemp.mdb" ] || fail "the staging database is not in the user's cache"
[ "$(shipped)" = "$before" ] || fail "the installed files changed"
echo "installed files in place; round trip through the user's staging database"
