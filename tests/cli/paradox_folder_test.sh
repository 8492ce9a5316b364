#!/usr/bin/env bash
# A --paradox folder that cannot serve is one line naming it and the reason,
# exit 1, before any list is filled: the login below points at no server, so
# a command that got that far would fail for another reason.
#   paradox_folder_test.sh CORVANE_CLI
set -uo pipefail
cli=$1
work=$(mktemp -d /tmp/corvane-folder.XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME" "$work/ro" && echo x >"$work/file" && chmod 555 "$work/ro"
# root writes anywhere: the folders are then tried as nobody.
as=()
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  as=(runuser -u nobody --) && chmod 755 "$work" && chown -R nobody "$HOME"
fi
nowhere=(--server 127.0.0.1 --port 1 --user nobody --password x --database none)
failures=0
# command  folder  expected reason
cases=(
  "to-paradox  $work/missing  does not exist"
  "to-paradox  $work/file     is not a folder"
  "to-postgres $work/missing  does not exist"
  "to-postgres $work/file     is not a folder"
  "drop        $work/missing  does not exist"
  "rename      $work/file     is not a folder"
  "to-paradox  $work/ro       is not writable"
  "drop        $work/ro       is not writable"
  "rename      $work/ro       is not writable"
)
for c in "${cases[@]}"; do
  read -r cmd folder reason <<<"$c"
  if [ "$reason" = "is not writable" ] && "${as[@]}" test -w "$work/ro"; then
    echo "skip  $cmd $folder: this user can write a mode 555 folder"; continue
  fi
  out=$("${as[@]}" "$cli" "$cmd" --paradox "$folder" "${nowhere[@]}" T1 T2 2>&1 </dev/null); rc=$?
  lines=$(grep -c "$folder" <<<"$out")
  if [ "$rc" -ne 1 ] || ! grep -q "Paradox folder $folder: $reason" <<<"$out" || [ "$lines" -ne 1 ]; then
    echo "FAIL  $cmd $folder (exit $rc, want 1 and one line '$reason'):"; sed 's/^/      /' <<<"$out"
    failures=$((failures + 1))
  else echo "ok    $cmd $folder: $reason"; fi
done
[ "$failures" -eq 0 ]
