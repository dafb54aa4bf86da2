#!/usr/bin/env bash
# drive_sheet.sh DRIVER.exe SLAPD_DIR SHOTS_DIR: opens the group's sheet through the
# extension, types a new description as a person would, presses OK, and checks
# that the pages (General and Members: a group) reported the change and the apply
# and that the value is in slapd.
set -uo pipefail
driver=$1; slapd_dir=$2; shots=$3
. "$(dirname "$0")/../../tools/wine-env.sh" || exit 1
mkdir -p "$shots"
caption="SALES TEAM - Properties"
value="Driven at $(date +%s%N)"
out=$(mktemp)
timeout 60 wine "$(winpath "$driver")" "LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com" "$caption" >"$out" 2>/dev/null &
pid=$!
fail() { echo "drive_sheet: $*" >&2; cat "$out" >&2; kill "$pid" 2>/dev/null; exit 1; }
win=$(timeout 30 xdotool search --sync --name "^$caption\$" | head -1) || fail "no window \"$caption\""
sleep 1
xdotool windowfocus --sync "$win" 2>/dev/null || true
# The description field is the page's only tab stop: select its text and replace it.
xdotool key --window "$win" ctrl+a
xdotool type --delay 20 "$value"
sleep 0.5
import -window root "$shots/sheet-edited.png" 2>/dev/null || true
xdotool key --window "$win" Return
wait "$pid" || fail "driver failed"
tr -d '\r' <"$out"
grep -q "hr=0x00000000 pages=2 change=[1-9][0-9]* apply=1 exit=1" "$out" || fail "notifications not as expected"
got=$(ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$(cat "$slapd_dir/server")" \
      -b "CN=Sales Team,OU=Staff,DC=example,DC=com" -s base description | sed -n 's/^description: //p')
[ "$got" = "$value" ] || fail "slapd has description \"$got\", expected \"$value\""
echo "slapd has the new description"
