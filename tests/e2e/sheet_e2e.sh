#!/usr/bin/env bash
# sheet_e2e.sh BUILD_DIR SLAPD_DIR: quorvel.exe's property sheet job over the stand-in
# directory, driven as a person would with xdotool. Each scenario checks the 32-bit
# exit status and that quorvel.exe released every object the stand-ins handed out.
set -uo pipefail
build=$1; slapd_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-env.sh" || exit 1
winpath() { printf 'Z:%s' "${1//\//\\}"; }
shots="$build/test-artifacts/e2e"; mkdir -p "$shots"
server=$(cat "$slapd_dir/server")
group='CN=Sales Team,OU=Staff,DC=example,DC=com'
caption='SALES TEAM - Properties'
failures=0; passed=0

# run NAME EXPECTED-STATUS PATH DRIVE-FUNCTION
run() {
  local name=$1 expected=$2 path=$3 drive=$4
  local ledger="$build/test-artifacts/e2e/$name.ledger"; rm -f "$ledger"
  local status_file; status_file=$(mktemp)
  local tail="/adproppage:$path"
  # shellcheck disable=SC2086
  QUORVEL_STANDIN_LEDGER="$(winpath "$ledger")" timeout 90 wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
    "$(winpath "$build/app/quorvel.exe")" $tail >"$status_file" 2>/dev/null &
  local pid=$!
  local problem=""
  "$drive" "$name" || problem="driving failed"
  wait "$pid"
  local status; status=$(tr -d '\r\n' <"$status_file"); rm -f "$status_file"
  [ "$status" = "$expected" ] || problem="$problem; exit status $status, expected $expected"
  if [ -f "$ledger" ] && grep -v ' objects=0 references=0 locks=0$' "$ledger" | grep -q .; then
    problem="$problem; outstanding: $(grep -v ' objects=0 references=0 locks=0$' "$ledger" | tr '\n' ' ')"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED $name: ${problem#; }"; failures=$((failures + 1))
  else
    echo "ok $name ($status)"; passed=$((passed + 1))
  fi
}

sheet_window() { timeout 40 xdotool search --sync --name "^$caption\$" 2>/dev/null | head -1; }
no_window() { sleep 4; ! xdotool search --name 'Properties$' >/dev/null 2>&1; }

close_untouched() {
  local win; win=$(sheet_window) || return 1
  [ -n "$win" ] || return 1
  sleep 1; import -window root "$shots/$1.png" 2>/dev/null
  xdotool key --window "$win" Return
}
edit_then() {  # NAME KEY VALUE
  local win; win=$(sheet_window) || return 1
  [ -n "$win" ] || return 1
  sleep 1
  # Real key events to the focused window: sent events would lose the shift state.
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  xdotool key ctrl+a
  xdotool type --delay 20 "$3"
  sleep 0.5; import -window root "$shots/$1.png" 2>/dev/null
  xdotool key --window "$win" "$2"
}
edit_cancel() { edit_then "$1" Escape "Cancelled edit"; }
new_value="Edited at $(date +%s)"
edit_ok() { edit_then "$1" Return "$new_value"; }
none() { no_window; }

run untouched-ok 0x00000000 "LDAP://$group" close_untouched
run edit-cancel 0x00000001 "LDAP://$group" edit_cancel
run edit-ok 0x00000001 "LDAP://$group" edit_ok
got=$(ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$group" -s base description | sed -n 's/^description: //p')
if [ "$got" = "$new_value" ]; then echo "ok edit-ok landed in slapd"; passed=$((passed + 1)); else
  echo "FAILED edit-ok: slapd has \"$got\""; failures=$((failures + 1)); fi
run no-such-dn 0x80072030 "LDAP://CN=Nobody,OU=Staff,DC=example,DC=com" none
# A server that does not answer: a port nobody listens on.
run server-down 0x8007203A "LDAP://127.0.0.1:1/$group" none
QUORVEL_STANDIN_NO_PAGES=1 run no-pages 0x00000000 "LDAP://$group" none

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
