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
  elif [ -n "$(outstanding "$ledger")" ]; then
    problem="$problem; outstanding: $(outstanding "$ledger")"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED $name: ${problem#; }"; failures=$((failures + 1))
  else
    echo "ok $name ($status, $(($(date +%s) - t0)) s)"; passed=$((passed + 1))
  fi
}
say() { echo "  $1: $2" >&2; }
# The ledger's lines that are not all clear: a count other than 0, or a request
# block that the host did not free exactly once.
outstanding() {
  grep -v -e ' objects=0 references=0 locks=0$' -e '^quorvel_dsprop request frees=1$' -e '^quorvel_dsprop stack ' "$1" |
    tr '\n' ' '
}

# window CAPTION: the window whose title is exactly CAPTION, once it exists (a 32-bit
# driver under the emulator may take half a minute to start on a loaded machine).
window() {
  local win="" title t0=$SECONDS
  # xdotool gives up at an X error (a window that goes while it looks): look again.
  while [ -z "$win" ] && ((SECONDS - t0 < 60)); do
    win=$(timeout $((60 - (SECONDS - t0))) xdotool search --sync --name "^$1\$" 2>/dev/null | head -1)
  done
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

# --- the first sheet ---

close_untouched() {
  local win owner; win=$(window "$caption") || return 1
  sleep 1; shot "$1"
  # Its parent is the desktop, which makes it a sheet without an owner.
  owner=$(wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --owner $caption 2>/dev/null | tr -d '\r')
  keys "$win" Return
  [ "$owner" = 0x00000000 ] || { say "$1" "the sheet's owner is ${owner:-not known}"; return 1; }
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
# No sheet appears while quorvel.exe runs, and it ends by itself (a 32-bit caller may
# take half a minute to start on a loaded machine).
none() {
  local i open
  for i in $(seq 450); do
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

# --- secondary sheets ---

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

# --- many sheets at once, a long chain of nested sheets ---

# Entries of these scenarios' own, added beside the seed data (again on a rerun: -c).
add_entries() { ldapadd -c -x -H "ldap://$server" >/dev/null 2>&1 || true; }
user_ldif() { printf 'dn: %s\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: user\ncn: %s\nsn: %s\n\n' "$1" "$2" "$2"; }
ou_ldif() { printf 'dn: OU=%s,DC=example,DC=com\nobjectClass: top\nobjectClass: organizationalUnit\nou: %s\n\n' "$1" "$1"; }
tally() {  # NAME PROBLEM SECONDS-STARTED
  if [ -n "$2" ]; then echo "FAILED $1: ${2#; }"; failures=$((failures + 1)); else
    echo "ok $1 ($((SECONDS - $3)) s)"; passed=$((passed + 1)); fi
}

# Eight quorvel.exe at once, one user each: all eight sheets open before any is
# touched, then each gets its own edit and OK. Each ends with 1, each value lands.
parallel='OU=Parallel,DC=example,DC=com'
eight_at_once() {
  local name=eight-at-once t0=$SECONDS problem="" i win value pids=() wins=()
  { ou_ldif Parallel; for i in 1 2 3 4 5 6 7 8; do user_ldif "CN=Parallel $i,$parallel" "Parallel $i"; done; } | add_entries
  for i in 1 2 3 4 5 6 7 8; do
    rm -f "$shots/$name-$i.ledger"
    # shellcheck disable=SC2086
    QUORVEL_STANDIN_LEDGER="$(winpath "$shots/$name-$i.ledger")" timeout 120 wine \
      "$(winpath "$build/tools/launcher/qvlaunch.exe")" "$(winpath "$build/app/quorvel.exe")" \
      /adproppage:LDAP://CN=Parallel $i,$parallel >"$shots/$name-$i.status" 2>/dev/null &
    pids+=($!)
  done
  for i in 1 2 3 4 5 6 7 8; do
    win=$(window "PARALLEL $i - Properties") ||
      { shot "$name-missing"; problem="$problem; no sheet $i among: $(sheets | tr '\n' '|')"; break; }
    wins+=("$win")
  done
  if [ ${#wins[@]} = 8 ]; then
    shot "$name"
    # Among sheets of eight processes Wine keeps its own idea of the active one (a
    # click or focus from outside does not always move it), and the keyboard goes
    # there: whichever sheet holds the focus is given its own edit, until none is left.
    local edited=" " title n
    for _ in 1 2 3 4 5 6 7 8; do
      for n in $(seq 50); do
        win=$(xdotool getwindowfocus 2>/dev/null); title=$(xdotool getwindowname "$win" 2>/dev/null)
        [[ "$title" =~ ^PARALLEL\ ([1-8])\ -\ Properties$ && "$edited" != *" ${BASH_REMATCH[1]} "* ]] && break
        # No sheet of ours active: give one that is left the focus.
        (( n % 10 == 0 )) && for i in 1 2 3 4 5 6 7 8; do
          [[ "$edited" == *" $i "* ]] || { xdotool windowfocus "${wins[i - 1]}" 2>/dev/null; break; }; done
        sleep 0.2
      done
      [[ "$title" =~ ^PARALLEL\ ([1-8])\ -\ Properties$ ]] || { problem="$problem; no sheet of ours active"; break; }
      i=${BASH_REMATCH[1]}; edited="$edited$i "
      sleep 0.2
      xdotool key --delay 40 alt+d ctrl+a
      xdotool type --delay 10 "Parallel edit $i at $started"
      xdotool key Return
      gone "$win" || break
    done
  else
    for win in "${wins[@]}"; do xdotool windowclose "$win" 2>/dev/null; done
  fi
  for i in 1 2 3 4 5 6 7 8; do
    wait "${pids[i - 1]}"
    local status; status=$(tr -d '\r\n' <"$shots/$name-$i.status")
    [ "$status" = 0x00000001 ] || problem="$problem; sheet $i ended with ${status:-nothing}"
    if [ ! -f "$shots/$name-$i.ledger" ]; then problem="$problem; no ledger from sheet $i"
    elif [ -n "$(outstanding "$shots/$name-$i.ledger")" ]; then
      problem="$problem; sheet $i left: $(outstanding "$shots/$name-$i.ledger")"; fi
    value=$(description "CN=Parallel $i,$parallel")
    [ "$value" = "Parallel edit $i at $started" ] || problem="$problem; slapd has \"$value\" for Parallel $i"
  done
  tally "$name" "$problem" "$t0"
}

# Groups Chain 00 to Chain 24 in a row, each the one member of the one before, and
# at the end the user Chain 25: from the first sheet each Members page opens the
# next, 25 secondary sheets deep. The deepest applies an edit; then all close.
nest='OU=Nest,DC=example,DC=com'
levels=25
chain_value="Deepest edit at $started"
add_chain() {
  local i
  ou_ldif Nest
  for ((i = 0; i < levels; i++)); do
    printf 'dn: CN=Chain %02d,%s\nobjectClass: top\nobjectClass: group\ncn: Chain %02d\nmember: CN=Chain %02d,%s\n\n' \
      "$i" "$nest" "$i" "$((i + 1))" "$nest"
  done
  user_ldif "$(printf 'CN=Chain %02d,%s' "$levels" "$nest")" "$(printf 'Chain %02d' "$levels")"
}
chain_sheet() { window "$(printf 'CHAIN %02d - Properties' "$1")"; }
# One xdotool each, without keys()'s pauses: 50 steps add up.
quick_keys() { xdotool windowfocus --sync "$1" sleep 0.1 key --delay 40 "${@:2}" 2>/dev/null; }
deep_chain() {
  local i win
  for ((i = 0; i < levels; i++)); do
    win=$(chain_sheet "$i") || { shot "$1-stuck"; return 1; }
    # Its Members tab, where the one member is selected already, and Properties.
    quick_keys "$win" alt+d shift+Tab Right alt+p
  done
  win=$(chain_sheet "$levels") || return 1
  replace_description "$win" "$chain_value"
  keys "$win" Return
  for ((i = levels - 1; i >= 0; i--)); do
    win=$(chain_sheet "$i") || return 1
    quick_keys "$win" Escape
  done
}
# From the page's records of its requests: each block freed once, and the stack
# that one level of nesting takes, with the depth at which the stack's reserve ends.
check_chain() {
  local ledger="$shots/deep-nesting.ledger" report
  report=$(awk -v levels="$levels" '
    /^quorvel_dsprop stack / {
      n++; split($3, u, "="); split($4, r, "="); used = u[2] + 0; reserve = r[2] + 0
      if (n == 1 || used < low) low = used
      if (n == 1 || used > high) high = used
    }
    /^quorvel_dsprop request / { answered++; if ($3 != "frees=1") twice++ }
    END {
      if (n != levels || answered != levels) { print "FAILED " n " requests, " answered " answered, expected " levels; exit }
      per = (high - low) / (n - 1)
      printf "%d requests, %s; %.1f KiB of stack a level from %.1f KiB, reserve %d KiB: it ends at level %d\n",
        n, twice ? "a block not freed once" : "each block freed once", per / 1024, low / 1024, reserve / 1024,
        (reserve - low) / per
    }' "$ledger" 2>/dev/null)
  echo "$report" >"$shots/deep-nesting-stack.txt"
  if [[ -n "$report" && "$report" != FAILED* && "$report" != *"not freed once"* ]]; then
    echo "ok deep-nesting: $report"; passed=$((passed + 1))
  else
    echo "FAILED deep-nesting: ${report:-no requests recorded}"; failures=$((failures + 1))
  fi
}

[[ "$only" = "  " || "$only" = *" eight-at-once "* ]] && eight_at_once
if [[ "$only" = "  " || "$only" = *" deep-nesting "* ]]; then
  add_chain | add_entries
  QUORVEL_STANDIN_POST_REQUESTS=1 run deep-nesting 0x00000000 "LDAP://CN=Chain 00,$nest" deep_chain
  check_landed deep-nesting "CN=Chain $levels,$nest" "$chain_value"
  check_chain
fi
# --- the client library: the sheet run by client/ through qvclient_driver ---
. "$here/client_bits.sh"
# client NAME EXPECTED-LINE DRIVE PATH [--x64] [OPTIONS]: the driver's output must hold the
# line, and the caller's window must have answered every probe within 1 s. --x64: the
# x86-64 driver, where the run is the 64-bit console's own.
client() {
  local name=$1 expected=$2 drive=$3 path=$4; shift 4
  local exe=$driver parent=$wow64_parent bits=$driver_bits flags=$driver_flags t0=$SECONDS
  if [ "${1:-}" = --x64 ]; then exe=$driver_x64 parent=0 bits=x86-64 flags=; shift; fi
  if [ "$only" != "  " ] && [[ "$only" != *" client-$name "* ]]; then return; fi
  local out; out=$(mktemp)
  # shellcheck disable=SC2086
  timeout 150 wine "$exe" $flags "$@" "$(winpath "$build/app/quorvel.exe")" sheet "$path" >"$out" 2>/dev/null &
  launcher_pid=$!
  local problem=""
  "$drive" "client-$name" || problem="driving failed"
  wait "$launcher_pid"
  local got; got=$(tr -d '\r' <"$out")
  grep -qx "$expected" <<<"$got" || problem="$problem; driver said: $(tr '\n' '|' <<<"$got")"
  probes_check "$out" "$bits" "$min_probes"
  grep -q 'message after abandon' <<<"$got" && problem="$problem; an outcome was posted after Abandon"
  wow64_check "$out" 0 "$parent"; rm -f "$out"
  if [ -n "$problem" ]; then echo "FAILED client-$name ($bits): ${problem#; }"; failures=$((failures + 1))
  else echo "ok client-$name ($bits, $((SECONDS - t0)) s)"; passed=$((passed + 1)); fi
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
client abandon "abandoned" abandon_sheet "LDAP://$group" --x64 --async --abandon "$caption"
# Asynchronous, a sheet open for seconds: its every probe answered (at least ten of them).
min_probes='[1-9]'
client changed "outcome: Changed 0x00000001" client_edit "LDAP://$group" --async
# The x86 driver runs no probes (client_bits.sh): the caller's window is probed in x86-64.
[ "$driver_bits" = x86 ] && client changed-probed "outcome: Changed 0x00000001" client_edit "LDAP://$group" --x64 --async

# --- quorvel_client.dll through qvcapi_driver, as a console in another language takes it ---
# capi NAME EXPECTED-LINE DRIVE BITS PATH [OPTIONS]: BITS x86 runs the x86 driver under WoW64
# where this machine runs 32-bit programs (x86-64 otherwise).
capi() {
  local name=$1 expected=$2 drive=$3 bits=$4 path=$5; shift 5
  if [ "$only" != "  " ] && [[ "$only" != *" capi-$name "* ]]; then return; fi
  local tree=$build wow64=0
  # x86 where client_bits.sh chose the x86 driver; it said why not otherwise.
  [ "$bits" = x86 ] && { tree=$client_tree; wow64=$wow64_parent; }
  local out; out=$(mktemp)
  timeout 90 wine "$(winpath "$tree/tests/client/qvcapi_driver.exe")" --helper "$(winpath "$build/app/quorvel.exe")" \
    "$@" sheet "$path" >"$out" 2>/dev/null &
  launcher_pid=$!
  local problem=""
  "$drive" "capi-$name" || problem="driving failed"
  wait "$launcher_pid"
  local got; got=$(tr -d '\r' <"$out"); rm -f "$out"
  for line in "$expected" "wow64: $wow64"; do
    grep -qxF "$line" <<<"$got" || problem="$problem; driver said: $(tr '\n' '|' <<<"$got")"
  done
  if [ -n "$problem" ]; then echo "FAILED capi-$name: ${problem#; }"; failures=$((failures + 1))
  else echo "ok capi-$name"; passed=$((passed + 1)); fi
}
capi unchanged "outcome: Unchanged 0x00000000" close_untouched x86 "LDAP://$group"
capi changed "outcome: Changed 0x00000001" client_edit x86-64 "LDAP://$group" --async

echo "$passed passed, $failures failed in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
