#!/usr/bin/env bash
# sheet_e2e.sh BUILD_DIR SLAPD_DIR [SCENARIO...]: quorvel.exe's property sheet job over the
# stand-in directory, driven as a person would with xdotool. Each scenario checks the 32-bit
# exit status and that quorvel.exe released every object the stand-ins handed out.
# Scenarios named on the command line after the two folders run alone.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh" "$@"
group="CN=Sales Team,$staff"
caption='SALES TEAM - Properties'
started=$(date +%s)
# sheet NAME EXPECTED-STATUS PATH DRIVE-FUNCTION
sheet() {
  local name=$1 t0=$SECONDS status_file
  selected "$name" || return
  status_file=$(mktemp)
  # shellcheck disable=SC2086
  launch "$shots/$name.ledger" "$status_file" /adproppage:$3
  drive "$4" "$name"
  status_is "$status_file" "$2"
  ledger_check "$shots/$name.ledger"
  report "$name ($2, $((SECONDS - t0)) s)"
}
dismiss() { keys "$1" Escape; window_gone "$1"; }  # WIN: closed by Escape
# Titles of the sheets now on the screen, one a line.
sheets() { named ' - Properties$' | while read -r w; do xdotool getwindowname "$w"; done; }

# Wine's modal sheet does not take ctrl+Tab: the tabs are reached as a person
# without a mouse would, from the first field back to the tab row, then across.
to_members() { keys "$1" alt+d shift+Tab Right; }
to_general() { keys "$1" alt+m shift+Tab Left; }
# member_pick WIN INDEX: on the Members page, the member at INDEX selected.
member_pick() {
  local downs=() i
  for ((i = 0; i < $2; i++)); do downs+=(Down); done
  keys "$1" alt+m Home "${downs[@]}"
}
# open_member WIN INDEX CAPTION: the member's sheet from the Members page, found by its caption.
open_member() {
  member_pick "$1" "$2"
  keys "$1" alt+p
  window "$3"
}
# replace_description WIN TEXT: on the General page.
replace_description() {
  keys "$1" alt+d ctrl+a
  xdotool type --delay 20 "$2"
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
no_sheet() { ends_without ' - Properties$'; }
check_landed() {  # NAME DN VALUE
  local got; got=$(attribute "$2" description)
  [ "$got" = "$3" ] || problem="$problem; slapd has \"$got\" for $2"
  report "$1 landed in slapd"
}
not_registered() {  # the page extension's class is missing from the prefix
  register_standins --without pages || return 1
  trap register_standins EXIT
  sheet not-registered 0x00000000 "LDAP://$group" no_sheet
  register_standins
  trap - EXIT
}

# --- secondary sheets ---

# The caption follows the member chosen: Bob Stone's sheet, then Alma Reyes's.
member_captions() {
  local win nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  nested=$(open_member "$win" 1 'BOB STONE - Properties') || return 1
  shot "$1-bob"
  dismiss "$nested" || return 1
  nested=$(open_member "$win" 0 'ALMA REYES - Properties') || return 1
  dismiss "$nested" || return 1
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
  local got; got=$(attribute "CN=Bob Stone,$staff" description)
  [ "$got" = "$nested_value" ] || { say "$1" "after Apply slapd has \"$got\""; return 1; }
  # Apply, greyed now, held the focus: back to the field, where Return means OK.
  keys "$nested" alt+d Return; window_gone "$nested" || return 1
  keys "$win" Return
}
# A member's sheet opened and closed, then an edit in the first sheet: that one counts.
first_edit() {
  local win nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  nested=$(open_member "$win" 0 'ALMA REYES - Properties') || return 1
  dismiss "$nested" || return 1
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
  dismiss "$carla" || return 1
  dismiss "$leads" || return 1
  keys "$win" Return
}
faults=name-at-end,no-terminator,odd-offset,short,wrap,null,stale-parent
# Each press of Properties sends the next malformed block: none may open a sheet or
# end the program; the press after them opens the member's sheet as usual.
malformed() {
  local win kind nested; win=$(window "$caption") || return 1
  sleep 1
  to_members "$win"
  member_pick "$win" 0
  for kind in ${faults//,/ }; do
    keys "$win" alt+p
    sleep 1.5
    running || { say quorvel.exe "ended early"; return 1; }
    local open; open=$(sheets)
    [ "$open" = "$caption" ] || { say "$1" "after $kind the sheets are: $(echo "$open" | tr '\n' '|')"; return 1; }
  done
  shot "$1"
  keys "$win" alt+p
  nested=$(window 'ALMA REYES - Properties') || return 1
  dismiss "$nested" || return 1
  keys "$win" Return
}

sheet untouched-ok 0x00000000 "LDAP://$group" close_untouched
sheet edit-cancel 0x00000001 "LDAP://$group" edit_cancel
sheet edit-ok 0x00000001 "LDAP://$group" edit_ok
selected edit-ok && check_landed edit-ok "$group" "$new_value"
sheet no-such-dn 0x80072030 "LDAP://CN=Nobody,$staff" no_sheet
# A server that does not answer: a port nobody listens on.
sheet server-down 0x8007203A "LDAP://127.0.0.1:1/$group" no_sheet
QUORVEL_STANDIN_NO_PAGES=1 sheet no-pages 0x00000000 "LDAP://$group" no_sheet
selected not-registered && not_registered
sheet member-captions 0x00000000 "LDAP://$group" member_captions
sheet nested-edit 0x00000000 "LDAP://$group" nested_edit
selected nested-edit && check_landed nested-edit "CN=Bob Stone,$staff" "$nested_value"
sheet first-edit 0x00000001 "LDAP://$group" first_edit
sheet two-levels 0x00000000 "LDAP://$group" two_levels
QUORVEL_STANDIN_MALFORMED=$faults sheet malformed 0x00000000 "LDAP://$group" malformed

# --- many sheets at once, a long chain of nested sheets ---

# Entries of these scenarios' own, added beside the seed data (again on a rerun: -c).
add_entries() { ldapadd -c -x -H "ldap://$server" >/dev/null 2>&1 || true; }
user_ldif() { printf 'dn: %s\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: user\ncn: %s\nsn: %s\n\n' "$1" "$2" "$2"; }
ou_ldif() { printf 'dn: OU=%s,DC=example,DC=com\nobjectClass: top\nobjectClass: organizationalUnit\nou: %s\n\n' "$1" "$1"; }

# Eight quorvel.exe at once, one user each: all eight sheets open before any is
# touched, then each gets its own edit and OK. Each ends with 1, each value lands.
parallel='OU=Parallel,DC=example,DC=com'
eight_at_once() {
  local name=eight-at-once t0=$SECONDS i win value before pids=() wins=()
  { ou_ldif Parallel; for i in 1 2 3 4 5 6 7 8; do user_ldif "CN=Parallel $i,$parallel" "Parallel $i"; done; } | add_entries
  for i in 1 2 3 4 5 6 7 8; do
    # shellcheck disable=SC2086
    launch_limit=120 launch "$shots/$name-$i.ledger" "$shots/$name-$i.status" /adproppage:LDAP://CN=Parallel $i,$parallel
    pids+=("$launched")
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
    local edited=" " title tries=0
    for _ in 1 2 3 4 5 6 7 8; do
      wait_until 10 "no sheet of ours active" unedited_focused || break
      i=${BASH_REMATCH[1]}; edited="$edited$i "
      sleep 0.2
      xdotool key --delay 40 alt+d ctrl+a
      xdotool type --delay 10 "Parallel edit $i at $started"
      xdotool key Return
      window_gone "$win" || break
    done
  else
    for win in "${wins[@]}"; do xdotool windowclose "$win" 2>/dev/null; done
  fi
  for i in 1 2 3 4 5 6 7 8; do
    wait "${pids[i - 1]}"
    before=$problem
    status_is "$shots/$name-$i.status" 0x00000001
    ledger_check "$shots/$name-$i.ledger"
    [ "$problem" = "$before" ] || problem="$problem (sheet $i)"
    value=$(attribute "CN=Parallel $i,$parallel" description)
    [ "$value" = "Parallel edit $i at $started" ] || problem="$problem; slapd has \"$value\" for Parallel $i"
  done
  report "$name ($((SECONDS - t0)) s)"
}
# A sheet of ours not edited yet holds the focus; now and then one that is left is given it.
unedited_focused() {
  win=$(xdotool getwindowfocus 2>/dev/null); title=$(xdotool getwindowname "$win" 2>/dev/null)
  [[ "$title" =~ ^PARALLEL\ ([1-8])\ -\ Properties$ && "$edited" != *" ${BASH_REMATCH[1]} "* ]] && return 0
  if ((++tries % 10 == 0)); then
    for i in 1 2 3 4 5 6 7 8; do [[ "$edited" == *" $i "* ]] || { xdotool windowfocus "${wins[i - 1]}" 2>/dev/null; break; }; done
  fi
  return 1
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
  local ledger="$shots/deep-nesting.ledger" summary
  summary=$(awk -v levels="$levels" '
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
  echo "$summary" >"$shots/deep-nesting-stack.txt"
  if [[ -n "$summary" && "$summary" != FAILED* && "$summary" != *"not freed once"* ]]; then
    report "deep-nesting: $summary"
  else
    problem="$problem; ${summary:-no requests recorded}"; report deep-nesting
  fi
}

selected eight-at-once && eight_at_once
if selected deep-nesting; then
  add_chain | add_entries
  QUORVEL_STANDIN_POST_REQUESTS=1 sheet deep-nesting 0x00000000 "LDAP://CN=Chain 00,$nest" deep_chain
  check_landed deep-nesting "CN=Chain $levels,$nest" "$chain_value"
  check_chain
fi
# --- the client library: the sheet run by client/ through qvclient_driver ---
. "$here/client_bits.sh"
# sheet_client NAME EXPECTED-LINE DRIVE PATH [--x64] [OPTIONS]: the driver's output must hold the
# line, and the caller's window must have answered every probe within 1 s. --x64: the
# x86-64 driver, where the run is the 64-bit console's own.
sheet_client() {
  local name=client-$1 expected=$2 drive=$3 path=$4 out t0=$SECONDS; shift 4
  local exe=$driver parent=$wow64_parent bits=$driver_bits flags=$driver_flags
  if [ "${1:-}" = --x64 ]; then exe=$driver_x64 parent=0 bits=x86-64 flags=; shift; fi
  selected "$name" || return
  out=$(mktemp)
  # shellcheck disable=SC2086
  in_background "$out" 150 "$exe" $flags "$@" "$(winpath "$build/app/quorvel.exe")" sheet "$path"
  drive "$drive" "$name"
  expect_in line "$out" "$expected"
  probes_check "$out" "$bits" "$min_probes"
  ! grep -q 'message after abandon' "$out" || problem="$problem; an outcome was posted after Abandon"
  wow64_check "$out" 0 "$parent"; rm -f "$out"
  report "$name ($bits, $((SECONDS - t0)) s)"
}
# The run is let go while the sheet is up: the sheet stays, and closes as usual.
abandon_sheet() {
  local win; win=$(window "$caption") || return 1
  wait_until 10 "" ended || { say "$1" "the driver did not end"; return 1; }
  [ "$(xdotool getwindowname "$win" 2>/dev/null)" = "$caption" ] || { say "$1" "the sheet went with the run"; return 1; }
  keys "$win" Return; window_gone "$win"
}
client_edit() { sleep 1; edit_then "$1" Return "Client edit at $(date +%s)"; }
min_probes=''
sheet_client unchanged "outcome: Unchanged 0x00000000" close_untouched "LDAP://$group"
sheet_client bind-failed "outcome: BindFailed 0x80072030" no_sheet "LDAP://CN=Nobody,$staff"
sheet_client abandon "abandoned" abandon_sheet "LDAP://$group" --x64 --async --abandon "$caption"
# Asynchronous, a sheet open for seconds: its every probe answered (at least ten of them).
min_probes='[1-9]'
sheet_client changed "outcome: Changed 0x00000001" client_edit "LDAP://$group" --async
# The x86 driver runs no probes (client_bits.sh): the caller's window is probed in x86-64.
[ "$driver_bits" = x86 ] && sheet_client changed-probed "outcome: Changed 0x00000001" client_edit "LDAP://$group" --x64 --async

# --- quorvel_client.dll through qvcapi_driver, as a console in another language takes it ---
# sheet_capi NAME EXPECTED-LINE DRIVE BITS PATH [OPTIONS]: BITS x86 runs the x86 driver under
# WoW64 where this machine runs 32-bit programs (x86-64 otherwise).
sheet_capi() {
  local name=capi-$1 expected=$2 drive=$3 bits=$4 path=$5 tree=$build wow64=0 out; shift 5
  selected "$name" || return
  # x86 where client_bits.sh chose the x86 driver; it said why not otherwise.
  [ "$bits" = x86 ] && { tree=$client_tree; wow64=$wow64_parent; }
  out=$(mktemp)
  in_background "$out" 90 "$(winpath "$tree/tests/client/qvcapi_driver.exe")" --helper "$(winpath "$build/app/quorvel.exe")" \
    "$@" sheet "$path"
  drive "$drive" "$name"
  expect_in line "$out" "$expected" "wow64: $wow64"; rm -f "$out"
  report "$name"
}
sheet_capi unchanged "outcome: Unchanged 0x00000000" close_untouched x86 "LDAP://$group"
sheet_capi changed "outcome: Changed 0x00000001" client_edit x86-64 "LDAP://$group" --async

echo "$passed passed, $failures failed in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
