#!/usr/bin/env bash
# sheet_e2e.sh BUILD_DIR SLAPD_DIR: quorvel.exe's property sheet job over the stand-in
# directory, driven as a person would with xdotool. Each scenario checks the 32-bit
# exit status and that quorvel.exe released every object the stand-ins handed out.
# Scenarios named on the command line after the two folders run alone.
set -uo pipefail
build=$1; slapd_dir=$2; shift 2
only=" $* "
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../../tools"
. "$tools/wine-env.sh" || exit 1
winpath() { printf 'Z:%s' "${1//\//\\}"; }
shots="$build/test-artifacts/e2e"; mkdir -p "$shots"
server=$(cat "$slapd_dir/server")
staff='OU=Staff,DC=example,DC=com'
group="CN=Sales Team,$staff"
caption='SALES TEAM - Properties'
failures=0; passed=0; started=$(date +%s)
launcher_pid=""
# run NAME EXPECTED-STATUS PATH DRIVE-FUNCTION
run() {
  local name=$1 expected=$2 path=$3 drive=$4
  if [ "$only" != "  " ] && [[ "$only" != *" $name "* ]]; then return; fi
  local ledger="$shots/$name.ledger"; rm -f "$ledger"
  local status_file; status_file=$(mktemp)
  local tail="/adproppage:$path" t0; t0=$(date +%s)
  # shellcheck disable=SC2086
  QUORVEL_STANDIN_LEDGER="$(winpath "$ledger")" timeout 90 wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
    "$(winpath "$build/app/quorvel.exe")" $tail >"$status_file" 2>/dev/null &
  launcher_pid=$!
  local problem=""
  "$drive" "$name" || problem="driving failed"
  wait "$launcher_pid"
  local status; status=$(tr -d '\r\n' <"$status_file"); rm -f "$status_file"
  [ "$status" = "$expected" ] || problem="$problem; exit status ${status:-none}, expected $expected"
  if [ ! -f "$ledger" ]; then
    problem="$problem; no ledger written"
  elif grep -v ' objects=0 references=0 locks=0$' "$ledger" | grep -q .; then
    problem="$problem; outstanding: $(grep -v ' objects=0 references=0 locks=0$' "$ledger" | tr '\n' ' ')"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED $name: ${problem#; }"; failures=$((failures + 1))
  else
    echo "ok $name ($status, $(($(date +%s) - t0)) s)"; passed=$((passed + 1))
  fi
}
say() { echo "  $1: $2" >&2; }

# window CAPTION: the window whose title is exactly CAPTION, once it exists.
window() {
  local win title
  win=$(timeout 30 xdotool search --sync --name "^$1\$" 2>/dev/null | head -1)
  [ -n "$win" ] || { say "$1" "no such window"; return 1; }
  title=$(xdotool getwindowname "$win")
  [ "$title" = "$1" ] || { say "$1" "found \"$title\""; return 1; }
  echo "$win"
}
# Titles of the sheets now on the screen, one a line.
sheets() { xdotool search --name ' - Properties$' 2>/dev/null | while read -r w; do xdotool getwindowname "$w"; done; }
# gone WIN: the window has been destroyed.
gone() {
  local i
  for i in $(seq 50); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.2; done
  say "window $1" "still open"; return 1
}
# keys WIN KEY...: real key events to WIN made the focus (sent events lose the modifiers).
keys() {
  local win=$1; shift
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  sleep 0.3
  xdotool key --delay 80 "$@"
}
shot() { sleep 0.5; import -window root "$shots/$1.png" 2>/dev/null || true; }
# The launcher (and so quorvel.exe) is still running.
alive() { kill -0 "$launcher_pid" 2>/dev/null || { say quorvel.exe "ended early"; return 1; }; }

# Wine's modal sheet does not take ctrl+Tab: the tabs are reached as a person
# without a mouse would, from the first field back to the tab row, then across.
to_members() { keys "$1" alt+d shift+Tab Right; }
to_general() { keys "$1" alt+m shift+Tab Left; }
# pick WIN INDEX: on the Members page, the member at INDEX selected.
pick() {
  local downs=() i
  for ((i = 0; i < $2; i++)); do downs+=(Down); done
  keys "$1" alt+m Home "${downs[@]}"
}
# open_member WIN INDEX CAPTION: the member's sheet from the Members page, found by its caption.
open_member() {
  pick "$1" "$2"
  keys "$1" alt+p
  window "$3"
}
# replace_description WIN TEXT: on the General page.
replace_description() {
  keys "$1" alt+d ctrl+a
  xdotool type --delay 20 "$2"
}
description() {
  ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$1" -s base description | sed -n 's/^description: //p'
}

# --- the first sheet (issue 3) ---

close_untouched() {
  local win; win=$(window "$caption") || return 1
  sleep 1; shot "$1"
  keys "$win" Return
}
edit_then() {  # NAME KEY VALUE
  local win; win=$(window "$caption") || return 1
  sleep 1
  replace_description "$win" "$3"
  shot "$1"
  keys "$win" "$2"
}
edit_cancel() { edit_then "$1" Escape "Cancelled edit"; }
new_value="Edited at $(date +%s)"
edit_ok() { edit_then "$1" Return "$new_value"; }
# No sheet appears while quorvel.exe runs, and it ends by itself.
none() {
  local i open
  for i in $(seq 150); do
    open=$(sheets)
    [ -z "$open" ] || { say "$1" "a sheet is open: $open"; return 1; }
    kill -0 "$launcher_pid" 2>/dev/null || return 0
    sleep 0.2
  done
  say "$1" "quorvel.exe still running"; return 1
}
check_landed() {  # NAME DN VALUE
  local got; got=$(description "$2")
  if [ "$got" = "$3" ]; then echo "ok $1 landed in slapd"; passed=$((passed + 1)); else
    echo "FAILED $1: slapd has \"$got\" for $2"; failures=$((failures + 1)); fi
}
not_registered() {  # the page extension's class is missing from the prefix
  "$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" --without pages >/dev/null || return 1
  trap 'register_all' EXIT
  run not-registered 0x00000000 "LDAP://$group" none
  register_all
  trap - EXIT
}
register_all() { "$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" >/dev/null; }

# --- secondary sheets (issue 4) ---

# The caption follows the member chosen: Bob Stone's sheet, then Alma Reyes's.
member_captions() {
  local win nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  nested=$(open_member "$win" 1 'BOB STONE - Properties') || return 1
  shot "$1-bob"
  keys "$nested" Escape; gone "$nested" || return 1
  nested=$(open_member "$win" 0 'ALMA REYES - Properties') || return 1
  keys "$nested" Escape; gone "$nested" || return 1
  keys "$win" Return
}
nested_value="Nested edit at $(date +%s)"
# An edit applied in the member's sheet lands in slapd at Apply; OK there, then OK in
# the first sheet: only the first sheet's flag counts.
nested_edit() {
  local win nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  nested=$(open_member "$win" 1 'BOB STONE - Properties') || return 1
  sleep 0.5
  replace_description "$nested" "$nested_value"
  shot "$1"
  keys "$nested" alt+a
  sleep 1
  local got; got=$(description "CN=Bob Stone,$staff")
  [ "$got" = "$nested_value" ] || { say "$1" "after Apply slapd has \"$got\""; return 1; }
  # Apply, greyed now, held the focus: back to the field, where Return means OK.
  keys "$nested" alt+d Return; gone "$nested" || return 1
  keys "$win" Return
}
# A member's sheet opened and closed, then an edit in the first sheet: that one counts.
first_edit() {
  local win nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  nested=$(open_member "$win" 0 'ALMA REYES - Properties') || return 1
  keys "$nested" Escape; gone "$nested" || return 1
  to_general "$win"
  replace_description "$win" "First sheet edit at $(date +%s)"
  shot "$1"
  keys "$win" Return
}
# Sales Leads is a member of Sales Team and has members of its own: three sheets at once.
two_levels() {
  local win leads carla; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  leads=$(open_member "$win" 2 'SALES LEADS - Properties') || return 1
  sleep 0.5
  to_members "$leads"
  carla=$(open_member "$leads" 0 'CARLA DIAZ - Properties') || return 1
  # Each sheet opens where its owner is; set them apart for the photograph.
  xdotool windowmove "$leads" 160 110 2>/dev/null; xdotool windowmove "$carla" 320 200 2>/dev/null
  shot "$1"
  local open; open=$(sheets | sort | tr '\n' '|')
  [ "$open" = 'CARLA DIAZ - Properties|SALES LEADS - Properties|SALES TEAM - Properties|' ] ||
    { say "$1" "sheets open: $open"; return 1; }
  keys "$carla" Escape; gone "$carla" || return 1
  keys "$leads" Escape; gone "$leads" || return 1
  keys "$win" Return
}
faults=name-at-end,no-terminator,odd-offset,short,wrap,null,stale-parent
# Each press of Properties sends the next malformed block: none may open a sheet or
# end the program; the press after them opens the member's sheet as usual.
malformed() {
  local win kind nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  pick "$win" 0
  for kind in ${faults//,/ }; do
    keys "$win" alt+p
    sleep 1.5
    alive || return 1
    local open; open=$(sheets)
    [ "$open" = "$caption" ] || { say "$1" "after $kind the sheets are: $(echo "$open" | tr '\n' '|')"; return 1; }
  done
  shot "$1"
  keys "$win" alt+p
  nested=$(window 'ALMA REYES - Properties') || return 1
  keys "$nested" Escape; gone "$nested" || return 1
  keys "$win" Return
}

run untouched-ok 0x00000000 "LDAP://$group" close_untouched
run edit-cancel 0x00000001 "LDAP://$group" edit_cancel
run edit-ok 0x00000001 "LDAP://$group" edit_ok
[[ "$only" = "  " || "$only" = *" edit-ok "* ]] && check_landed edit-ok "$group" "$new_value"
run no-such-dn 0x80072030 "LDAP://CN=Nobody,$staff" none
# A server that does not answer: a port nobody listens on.
run server-down 0x8007203A "LDAP://127.0.0.1:1/$group" none
QUORVEL_STANDIN_NO_PAGES=1 run no-pages 0x00000000 "LDAP://$group" none
[[ "$only" = "  " || "$only" = *" not-registered "* ]] && not_registered
run member-captions 0x00000000 "LDAP://$group" member_captions
run nested-edit 0x00000000 "LDAP://$group" nested_edit
[[ "$only" = "  " || "$only" = *" nested-edit "* ]] && check_landed nested-edit "CN=Bob Stone,$staff" "$nested_value"
run first-edit 0x00000001 "LDAP://$group" first_edit
run two-levels 0x00000000 "LDAP://$group" two_levels
QUORVEL_STANDIN_MALFORMED=$faults run malformed 0x00000000 "LDAP://$group" malformed

# --- the client library (issue 11): the sheet run by client/ through qvclient_driver ---
# client NAME EXPECTED-LINE DRIVE PATH [OPTIONS]: the driver's output must hold the line,
# and the caller's window must have answered every probe within 1 s.
client() {
  local name=$1 expected=$2 drive=$3 path=$4; shift 4
  if [ "$only" != "  " ] && [[ "$only" != *" client-$name "* ]]; then return; fi
  local out; out=$(mktemp)
  timeout 90 wine "$(winpath "$build/tests/client/qvclient_driver.exe")" "$@" "$(winpath "$build/app/quorvel.exe")" \
    sheet "$path" >"$out" 2>/dev/null &
  launcher_pid=$!
  local problem=""
  "$drive" "client-$name" || problem="driving failed"
  wait "$launcher_pid"
  local got; got=$(tr -d '\r' <"$out"); rm -f "$out"
  grep -qx "$expected" <<<"$got" || problem="$problem; driver said: $(tr '\n' '|' <<<"$got")"
  grep -q "^probes: $min_probes[0-9]* late: 0$" <<<"$got" || problem="$problem; the caller's window did not answer in time"
  grep -q 'message after abandon' <<<"$got" && problem="$problem; an outcome was posted after Abandon"
  if [ -n "$problem" ]; then echo "FAILED client-$name: ${problem#; }"; failures=$((failures + 1))
  else echo "ok client-$name"; passed=$((passed + 1)); fi
}
# The run is let go while the sheet is up: the sheet stays, and closes as usual.
abandon_sheet() {
  local win i; win=$(window "$caption") || return 1
  for i in $(seq 50); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.2; done
  ! kill -0 "$launcher_pid" 2>/dev/null || { say "$1" "the driver did not end"; return 1; }
  [ "$(xdotool getwindowname "$win" 2>/dev/null)" = "$caption" ] || { say "$1" "the sheet went with the run"; return 1; }
  keys "$win" Return; gone "$win"
}
client_edit() { sleep 1; edit_then "$1" Return "Client edit at $(date +%s)"; }
min_probes=''
client unchanged "outcome: Unchanged 0x00000000" close_untouched "LDAP://$group"
client bind-failed "outcome: BindFailed 0x80072030" none "LDAP://CN=Nobody,$staff"
client abandon "abandoned" abandon_sheet "LDAP://$group" --async --abandon "$caption"
# Asynchronous, a sheet open for seconds: its every probe answered (at least ten of them).
min_probes='[1-9]'
client changed "outcome: Changed 0x00000001" client_edit "LDAP://$group" --async

echo "$passed passed, $failures failed in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
