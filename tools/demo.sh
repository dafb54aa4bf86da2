#!/usr/bin/env bash
# demo.sh BUILD_DIR: the property sheet job on the bundled demo directory. Starts a
# private slapd with the demo data, registers the stand-in directory components in a
# demo prefix and runs
#   quorvel.exe "/adproppage:LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com"
# With DISPLAY set the sheet appears there for a person to use; without one it runs
# under Xvfb, is photographed to build/demo/sheet.png and closed with Cancel.
# Prints the program's 32-bit exit status.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../build/demo"; mkdir -p "$out"; out=$(cd "$out" && pwd)
session="$build/demo-wine"; directory="$build/demo-slapd"

cleanup() {
  "$here/wine-session.sh" stop "$session" >/dev/null 2>&1 || true
  "$here/slapd.sh" stop "$directory" >/dev/null 2>&1 || true
}
trap cleanup EXIT
if [ -n "${DISPLAY:-}" ]; then export QUORVEL_USE_DISPLAY="$DISPLAY"; fi
"$here/wine-session.sh" start "$session" >/dev/null
server=$("$here/slapd.sh" start "$directory")
"$here/register-standins.sh" "$session" "$build/standins" "$server"
export QUORVEL_WINE_DIR="$session"
. "$here/wine-env.sh"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

path='LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com'
caption='SALES TEAM - Properties'
echo "directory: ldap://$server/ (DC=example,DC=com)"
echo "running: quorvel.exe \"/adproppage:$path\""
status_file=$(mktemp)
# The console passes the switch unquoted: blanks after it belong to the path. Wine
# would quote a word that holds blanks, so the tail goes as separate words.
tail="/adproppage:$path"
# shellcheck disable=SC2086
wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
  "$(winpath "$build/app/quorvel.exe")" $tail >"$status_file" 2>/dev/null &
launcher=$!
if [ -z "${QUORVEL_USE_DISPLAY:-}" ]; then
  if win=$(timeout 60 xdotool search --sync --name "^$caption\$" | head -1); then
    sleep 1
    import -window root "$out/sheet.png" && echo "screenshot: build/demo/sheet.png"
    xdotool key --window "$win" Escape
  else
    echo "demo: the sheet did not appear" >&2
  fi
else
  echo "the sheet is on $QUORVEL_USE_DISPLAY; close it to end the demo"
fi
wait "$launcher" || true
echo "exit status: $(tr -d '\r\n' <"$status_file")"
rm -f "$status_file"
