#!/usr/bin/env bash
# demo.sh BUILD_DIR: both jobs on the bundled demo directory. Starts a private slapd
# with the demo data, registers the stand-in directory components in a demo prefix
# and runs
#   quorvel.exe /adproppage:LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com
#   quorvel.exe /adcreateobjwiz:OU=Staff,DC=example,DC=com|0
# With DISPLAY set the sheet and then the wizard appear there for a person to use;
# without one they run under Xvfb: the sheet is photographed to build/demo/sheet.png
# and closed with Cancel, the wizard is filled in for a new user Dana Park (dpark),
# photographed to build/demo/wizard.png and finished. Prints each job's 32-bit exit
# status, and after the wizard the record it left on the clipboard, decoded.
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
echo "running: quorvel.exe /adproppage:$path"
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
    import -window "$win" "$out/sheet.png" && echo "screenshot: build/demo/sheet.png"
    xdotool windowfocus --sync "$win" 2>/dev/null || true
    xdotool key Escape
  else
    echo "demo: the sheet did not appear" >&2
  fi
else
  echo "the sheet is on $QUORVEL_USE_DISPLAY; close it to end the demo"
fi
wait "$launcher" || true
echo "exit status: $(tr -d '\r\n' <"$status_file")"

container='OU=Staff,DC=example,DC=com'
echo
echo "running: quorvel.exe /adcreateobjwiz:$container|0"
qvrecord() { wine "$(winpath "$build/tools/record/qvrecord.exe")" "$@" 2>/dev/null | tr -d '\r'; }
# A record left from an earlier run must not pass for this one's.
qvrecord --clear
wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
  "$(winpath "$build/app/quorvel.exe")" "/adcreateobjwiz:$container|0" >"$status_file" 2>/dev/null &
launcher=$!
if [ -z "${QUORVEL_USE_DISPLAY:-}" ]; then
  if win=$(timeout 60 xdotool search --sync --name '^New Object - user$' | head -1); then
    sleep 0.5
    xdotool windowfocus --sync "$win" 2>/dev/null || true
    xdotool type --delay 20 "Dana Park"
    xdotool key Tab
    xdotool type --delay 20 dpark
    sleep 0.3
    import -window "$win" "$out/wizard.png" && echo "screenshot: build/demo/wizard.png"
    xdotool key Return
  else
    echo "demo: the wizard did not appear" >&2
  fi
else
  echo "the wizard is on $QUORVEL_USE_DISPLAY; fill it in and press Finish (or Cancel)"
fi
wait "$launcher" || true
echo "exit status: $(tr -d '\r\n' <"$status_file")"
echo "record on the clipboard (tarnwick.adcreateobjwiz.clip):"
qvrecord | sed 's/^/  /'
rm -f "$status_file"
