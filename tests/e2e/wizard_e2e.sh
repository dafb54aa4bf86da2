#!/usr/bin/env bash
# wizard_e2e.sh BUILD_DIR SLAPD_DIR: quorvel.exe's creation job over the stand-in
# wizard and directory, the wizard filled in with xdotool as a person would. Each
# scenario checks the 32-bit exit status, what is on the clipboard afterwards (read
# back by qvrecord.exe, a program of its own, as the console would read it), what
# landed in slapd, and that quorvel.exe released every object the stand-ins handed out.
set -uo pipefail
build=$1; slapd_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$tools/wine-env.sh" || exit 1
shots="$build/test-artifacts/e2e"; mkdir -p "$shots"
server=$(cat "$slapd_dir/server")
staff='OU=Staff,DC=example,DC=com'
failures=0; passed=0

qvrecord() { wine "$(winpath "$build/tools/record/qvrecord.exe")" "$@" 2>/dev/null | tr -d '\r'; }
ldap() { "$@" -x -H "ldap://$server" >/dev/null 2>&1; }
attribute() {  # DN ATTRIBUTE: its values in slapd, one a line
  ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$1" -s base "$2" 2>/dev/null | sed -n "s/^$2: //p"
}

# The install record, as the installer writes it: HKLM\SOFTWARE\Quorvel InstallDir in
# the 64-bit view (VIEW 32: where a 32-bit process's own reads would land instead).
record() {  # FOLDER [VIEW]
  wine reg add 'HKLM\SOFTWARE\Quorvel' /v InstallDir /d "$1" "/reg:${2:-64}" /f >/dev/null 2>&1
}
unrecord() {  # the 64-bit value only: the stand-ins keep their settings under the same key
  wine reg delete 'HKLM\SOFTWARE\Quorvel' /v InstallDir /reg:64 /f >/dev/null 2>&1
  # Nothing of ours belongs in the 32-bit view: the key a scenario made there goes whole.
  wine reg delete 'HKLM\SOFTWARE\WOW6432Node\Quorvel' /reg:64 /f >/dev/null 2>&1
}
unrecord

# The wizard's registration comes back when a scenario took it away, also on failure.
unregistered=0
restore() {
  unrecord
  if [ "$unregistered" = 1 ]; then
    "$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" >/dev/null
  fi
}
trap restore EXIT

# run NAME EXPECTED-STATUS TAIL DRIVE MODULES: MODULES are the stand-ins that must
# report in the ledger (each with nothing outstanding).
run() {
  local name=$1 expected=$2 tail=$3 drive=$4 modules=$5
  local ledger="$shots/wizard-$name.ledger"; rm -f "$ledger"
  local status_file; status_file=$(mktemp)
  qvrecord --seed "seed-$name"
  local started=$SECONDS
  # No blanks in these tails: each goes to qvlaunch as one word and on verbatim.
  QUORVEL_STANDIN_LEDGER="$(winpath "$ledger")" timeout 90 wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
    "$(winpath "$build/app/quorvel.exe")" "$tail" >"$status_file" 2>/dev/null &
  launched=$!
  problem=""
  "$drive" "$name" || problem="$problem; driving failed"
  wait "$launched"
  local status; status=$(tr -d '\r\n' <"$status_file"); rm -f "$status_file"
  [ "$status" = "$expected" ] || problem="$problem; exit status $status, expected $expected"
  local module
  for module in $modules; do
    grep -q "^$module pid=" "$ledger" 2>/dev/null || problem="$problem; no ledger line from $module"
  done
  if [ -f "$ledger" ] && grep -v ' objects=0 references=0 locks=0$' "$ledger" | grep -q .; then
    problem="$problem; outstanding: $(grep -v ' objects=0 references=0 locks=0$' "$ledger" | tr '\n' ' ')"
  fi
  "check_${name//-/_}" || true
  if [ -n "$problem" ]; then
    echo "FAILED $name: ${problem#; }"; failures=$((failures + 1))
  else
    echo "ok $name ($status, $((SECONDS - started)) s)"; passed=$((passed + 1))
  fi
}

# Clipboard checks, run after each scenario; they add to $problem.
expect_record() {  # DN NAME ACCOUNT
  local got; got=$(qvrecord)
  local want; want=$(printf 'distinguishedName: %s\nname: %s\nsAMAccountName: %s' "$1" "$2" "$3")
  [ "$got" = "$want" ] || problem="$problem; record on the clipboard: $(echo "$got" | tr '\n' '|')"
}
expect_seed() {  # NAME: the clipboard as it was before the run
  local seed="seed-$1"
  local got; got=$(qvrecord)
  # qvrecord --seed cuts the mark to the account field's 16 units.
  local want; want=$(printf 'distinguishedName: %s\nname: %s\nsAMAccountName: %s' "$seed" "$seed" "${seed:0:16}")
  [ "$got" = "$want" ] || problem="$problem; the record was replaced: $(echo "$got" | tr '\n' '|')"
  expect_text "$1"
}
expect_text() {  # NAME: the text put there before the run survives, the clipboard is not emptied
  [ "$(qvrecord --text)" = "text: seed-$1" ] || problem="$problem; clipboard text now \"$(qvrecord --text)\""
}
expect_in_slapd() {  # DN CLASS ACCOUNT
  attribute "$1" objectClass | grep -qx "$2" || problem="$problem; $1 is not a $2 in slapd"
  [ "$(attribute "$1" sAMAccountName)" = "$3" ] || problem="$problem; $1 has account \"$(attribute "$1" sAMAccountName)\""
}

# Drivers: what a person does while quorvel.exe runs.
wizard_window() {  # CLASS (a 32-bit caller may take half a minute to start on a loaded machine)
  timeout 75 xdotool search --sync --name "^New Object - $1\$" 2>/dev/null | head -1
}
fill() {  # SHOT CLASS NAME ACCOUNT [KEY]: without KEY the wizard is left filled in
  local win; win=$(wizard_window "$2")
  [ -n "$win" ] || return 1
  sleep 0.5
  # Real key events to the focused window: sent events would lose the shift state. A
  # click in the name field makes it Wine's active window (see answer), the newest first.
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  xdotool mousemove --window "$win" 230 43 click 1; sleep 0.3
  xdotool type --delay 20 "$3"
  xdotool key Tab
  xdotool type --delay 20 "$4"
  sleep 0.3; import -window root "$shots/wizard-$1.png" 2>/dev/null
  [ -z "${5:-}" ] || xdotool key "$5"
}
answer() {  # NAME-PATTERN X Y KEY: clicks a window of that name at X,Y (topmost first) and sends KEY,
  local _ win                 # until none is left. Wine gives the keyboard to the window a click
  for _ in 1 2 3 4 5 6; do    # activates, not to the one xdotool focuses.
    win=$(xdotool search --name "$1" 2>/dev/null | head -1)
    [ -n "$win" ] || return 0
    xdotool mousemove --window "$win" "$2" "$3" click 1; sleep 0.3; xdotool key "$4"; sleep 0.7
  done
  return 1
}
gone() {  # CLASS: its wizard has closed
  local _; for _ in $(seq 100); do xdotool search --name "^New Object - $1\$" >/dev/null 2>&1 || return 0; sleep 0.2; done
  return 1
}
no_wizard() {  # the job ends without a wizard ever showing
  local _
  for _ in $(seq 360); do
    xdotool search --name '^New Object - ' >/dev/null 2>&1 && return 1
    kill -0 "$launched" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}

drive_user() { fill "$1" user "Ann Lee" alee Return; }
check_user() {
  expect_record "CN=Ann Lee,$staff" "Ann Lee" alee
  expect_text user
  expect_in_slapd "CN=Ann Lee,$staff" user alee
}
drive_cancel() { fill "$1" user "Nobody Made" nobody Escape; }
check_cancel() {
  expect_seed cancel
  [ -z "$(attribute "CN=Nobody Made,$staff" cn)" ] || problem="$problem; the cancelled object is in slapd"
}
drive_group() { fill "$1" group "Wizard Group" wizgroup Return; }
check_group() {
  expect_record "CN=Wizard Group,$staff" "Wizard Group" wizgroup
  expect_in_slapd "CN=Wizard Group,$staff" group wizgroup
}
drive_computer() { fill "$1" computer WIZPC01 'WIZPC01$' Return; }
check_computer() {
  expect_record "CN=WIZPC01,$staff" WIZPC01 'WIZPC01$'
  expect_in_slapd "CN=WIZPC01,$staff" computer 'WIZPC01$'
}
# The wizard's own failure: the name is taken.
drive_name_taken() { fill "$1" user "Bob Stone" bstone2 Return; }
check_name_taken() {
  expect_seed name-taken
  [ "$(attribute "CN=Bob Stone,$staff" sAMAccountName)" = bstone ] || problem="$problem; Bob Stone was changed"
}
check_unknown_type() { expect_seed unknown-type; }
check_no_container() { expect_seed no-container; }
check_not_registered() { expect_seed not-registered; }
check_malformed() { expect_seed malformed; }

run user 0x00000000 "/adcreateobjwiz:$staff|0" drive_user "quorvel_dsadmin quorvel_adsldp"
run cancel 0x00000001 "/adcreateobjwiz:$staff|0" drive_cancel "quorvel_dsadmin quorvel_adsldp"
run group 0x00000000 "/adcreateobjwiz:$staff|1" drive_group "quorvel_dsadmin quorvel_adsldp"
run computer 0x00000000 "/adcreateobjwiz:$staff|2" drive_computer "quorvel_dsadmin quorvel_adsldp"
run name-taken 0x80071392 "/adcreateobjwiz:$staff|0" drive_name_taken "quorvel_dsadmin quorvel_adsldp"
# Type 3 reaches the wizard as an empty class name, which its Initialize refuses.
run unknown-type 0x80070057 "/adcreateobjwiz:$staff|3" no_wizard "quorvel_dsadmin quorvel_adsldp"
run no-container 0x80072030 "/adcreateobjwiz:OU=Nowhere,DC=example,DC=com|0" no_wizard "quorvel_adsldp"
run malformed 0x00000057 "/adcreateobjwiz:$staff" no_wizard ""
unregistered=1
"$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" --without wizard >/dev/null
run not-registered 0x80004002 "/adcreateobjwiz:$staff|0" no_wizard "quorvel_adsldp"
"$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" >/dev/null && unregistered=0

# --- the client library: quorvel.exe run by client/ through qvclient_driver ---
. "$here/client_bits.sh"
helper=$(winpath "$build/app/quorvel.exe")
holder=$(winpath "$build/tests/createwiz/createwiz_clipboard_holder.exe")
# client NAME DRIVE EXPECTED-OUTCOME EXPECTED-NAMES DN TYPE [--x64] [OPTIONS]: EXPECTED-NAMES
# is DN|NAME|ACCOUNT, or empty where no names may be reported. --x64: the x86-64 driver,
# where the run is the 64-bit console's own. $client_helper, when set, stands in for
# quorvel.exe (the x86-64 driver playing another helper).
client() {
  local name=$1 drive=$2 outcome=$3 names=$4 dn=$5 type=$6 t0=$SECONDS; shift 6
  local exe=$driver parent=$wow64_parent bits=$driver_bits flags=$driver_flags
  if [ "${1:-}" = --x64 ]; then exe=$driver_x64 parent=0 bits=x86-64 flags=; shift; fi
  output=$(mktemp); problem=""
  # shellcheck disable=SC2086
  timeout 150 wine "$exe" $flags "$@" "${client_helper:-$helper}" wizard "$dn" "$type" >"$output" 2>/dev/null &
  launched=$!
  "$drive" "client-$name" || problem="; driving failed"
  wait "$launched"
  client_check "$output" "$outcome" "$names" "$parent" "$bits"
  rm -f "$output"
  report "client-$name ($bits, $((SECONDS - t0)) s)"
}
report() {  # NAME: ok or FAILED with $problem
  if [ -n "$problem" ]; then echo "FAILED $1: ${problem#; }"; failures=$((failures + 1))
  else echo "ok $1"; passed=$((passed + 1)); fi
}
client_check() {  # OUTPUT OUTCOME NAMES PARENT BITS: adds to $problem
  # A run refused before any start has no quorvel.exe to look at, nor has one whose
  # helper another program plays.
  if [[ "$2" = Refused* ]] || [ -n "${client_helper:-}" ]; then wow64_check "$1" - "$4"; else wow64_check "$1" 0 "$4"; fi
  local got; got=$(tr -d '\r' <"$1")
  grep -qx "outcome: $2" <<<"$got" || problem="$problem; driver said: $(tr '\n' '|' <<<"$got")"
  if [ -n "$3" ]; then grep -qxF "names: $3" <<<"$got" || problem="$problem; names: $(grep '^names' <<<"$got")"
  elif grep -q '^names:' <<<"$got"; then problem="$problem; $(grep '^names' <<<"$got")"; fi
  probes_check "$1" "$5"
}
client_user() { fill "$1" user "Cli User" cliuser Return; }
client_cancel() { fill "$1" user "Cli Nobody" clinobody Escape; }
client_held() {  # fills the wizard once the holder has the clipboard
  local _; for _ in $(seq 400); do grep -q '^held' "$output" && break; sleep 0.2; done
  grep -q '^held' "$output" && fill "$1" group "Held Group" heldgroup Return
}
# A second console starts a group's wizard meanwhile: both wizards are up at once,
# and each run gets its own names, the second console's published first.
client_twins() {
  local other; other=$(mktemp)
  # The second once the first is up, so that its wizard lies on top, where a click finds it.
  wizard_window user >/dev/null
  # shellcheck disable=SC2086
  timeout 150 wine "$driver" $driver_flags --async "$helper" wizard "$staff" 1 >"$other" 2>/dev/null &
  local second=$!
  if [ -n "$(wizard_window user)" ] && [ -n "$(wizard_window group)" ]; then
    import -window root "$shots/wizard-$1-both.png" 2>/dev/null
  else problem="$problem; the two wizards were not up at once"; fi
  fill "$1-group" group "Twin Two" twintwo Return && gone group && fill "$1-user" user "Twin One" twinone Return
  local filled=$?
  wait "$second"
  client_check "$other" "Created 0x00000000" "CN=Twin Two,$staff|Twin Two|twintwo" "$wow64_parent" "$driver_bits"
  rm -f "$other"
  return $filled
}
client user client_user "Created 0x00000000" "CN=Cli User,$staff|Cli User|cliuser" "$staff" 0
client cancel client_cancel "Cancelled 0x00000001" "" "$staff" 0 --async
client failed drive_name_taken "Failed 0x80071392" "" "$staff" 0 --x64 --async
client refused no_wizard "Refused 0x80070057" "" "OU=a|b,$staff" 0
# The sheet's switch in the container's name would show a sheet: refused before any start.
client switch no_wizard "Refused 0x80070057" "" "OU=a/adproppage:LDAP://CN=Sales Team,$staff" 0
# The record of the run before stays, and another program holds the clipboard while
# quorvel.exe publishes (let go once it has ended): names unknown, not the old ones.
client held client_held "CreatedNamesUnknown 0x00000000" "" "$staff" 1 --async --hold "$holder"
[ "$(attribute "CN=Held Group,$staff" sAMAccountName)" = heldgroup ] ||
  { echo "FAILED client-held: Held Group is not in slapd"; failures=$((failures + 1)); }
client twins client_twins "Created 0x00000000" "CN=Twin One,$staff|Twin One|twinone" "$staff" 0 --async
# Another helper ends 0 and leaves a record that names no run (as one older than the
# library), or another run: names unknown, never that record's names.
qvrecord --seed bare
QVCLIENT_HELPER_PUBLISH=bare client_helper=$driver_x64 client bare no_wizard "CreatedNamesUnknown 0x00000000" "" "$staff" 0
QVCLIENT_HELPER_PUBLISH=foreign client_helper=$driver_x64 client foreign no_wizard "CreatedNamesUnknown 0x00000000" "" \
  "$staff" 0 --async

# The orphan: console A is killed while its wizard is open. Then console B's runs
# cancel, fail and end 0 without publishing, the last two (other helpers, whose message
# boxes leave A's wizard uncovered) while A's wizard publishes. B never reports A's
# object, which is in slapd.
orphan() {
  local a awin b2 b3 out2 out3 early; problem=""
  qvrecord --seed orphan
  wine "$driver_x64" --async "$helper" wizard "$staff" 2 >/dev/null 2>&1 & a=$!
  awin=$(wizard_window computer)
  [ -n "$awin" ] || problem="$problem; A's wizard did not show"
  kill -KILL "$a"; wait "$a" 2>/dev/null
  early=$problem
  client orphan-cancel client_cancel "Cancelled 0x00000001" "" "$staff" 0 --async
  problem=$early; out2=$(mktemp); out3=$(mktemp)
  export QVCLIENT_HELPER_WAIT=1 QVCLIENT_HELPER_PUBLISH=none
  QVCLIENT_HELPER_EXIT=0x80071392 timeout 240 wine "$driver_x64" --async "$driver_x64" wizard "$staff" 0 >"$out2" 2>/dev/null &
  b2=$!
  timeout 240 wine "$driver_x64" --async "$driver_x64" wizard "$staff" 0 >"$out3" 2>/dev/null & b3=$!
  unset QVCLIENT_HELPER_WAIT QVCLIENT_HELPER_PUBLISH
  # A loaded machine takes its time to start the two: a box that came after A's wizard
  # was filled would take its keys, and one that came after the answers would stay.
  local boxes=0
  for _ in $(seq 300); do boxes=$(xdotool search --name '^Another helper$' 2>/dev/null | wc -l); [ "$boxes" = 2 ] && break; sleep 0.3; done
  [ "$boxes" = 2 ] || problem="$problem; $boxes of the other helpers' boxes showed"
  xdotool windowfocus --sync "$awin" 2>/dev/null || true
  xdotool mousemove --window "$awin" 230 43 click 1; sleep 0.3  # activates it (see answer)
  xdotool type --delay 20 ORPHANPC; xdotool key Tab; xdotool type --delay 20 'ORPHANPC$'
  import -window root "$shots/wizard-orphan.png" 2>/dev/null
  xdotool key Return
  gone computer || problem="$problem; A's wizard did not close"
  answer '^Another helper$' 10 10 Return || answer '^Another helper$' 10 10 Return ||
    problem="$problem; the other helpers' boxes stayed"
  wait "$b2"; wait "$b3"
  client_helper=$driver_x64 client_check "$out2" "Failed 0x80071392" "" 0 x86-64
  client_helper=$driver_x64 client_check "$out3" "CreatedNamesUnknown 0x00000000" "" 0 x86-64
  rm -f "$out2" "$out3"
  expect_in_slapd "CN=ORPHANPC,$staff" computer 'ORPHANPC$'
  report client-orphan
}
orphan

# --- quorvel_client.dll through qvcapi_driver, as a console in another language takes it ---
# From the x86 driver under WoW64 where this machine runs 32-bit programs: its
# %ProgramFiles% and registry view are the redirected ones.
# capi NAME DRIVE LINES ARGS...: each of LINES (one a line) is in the driver's output.
capi() {
  local name=$1 drive=$2 lines=$3; shift 3
  output=$(mktemp); problem=""
  timeout 90 wine "$(winpath "$client_tree/tests/client/qvcapi_driver.exe")" "$@" >"$output" 2>/dev/null &
  launched=$!
  "$drive" "capi-$name" || problem="; driving failed"
  wait "$launched"
  local got line; got=$(tr -d '\r' <"$output"); rm -f "$output"
  while IFS= read -r line; do
    grep -qF "$line" <<<"$got" || problem="$problem; no \"$line\" in: $(tr '\n' '|' <<<"$got")"
  done <<<"wow64: $wow64_parent"$'\n'"$lines"
  report "capi-$name"
}
nothing() { true; }
capi_user() { fill "$1" user "Capi User" capiuser Return; }
record "$(winpath "$build/app")\\"
capi wizard capi_user "helper: $helper
outcome: Created 0x00000000
names: CN=Capi User,$staff|Capi User|capiuser" wizard "$staff" 0
capi locate nothing "helper: $helper
reason: quorvel.exe was found in the installed folder" locate
# Only the 64-bit view counts; a record a 32-bit installer left in WOW6432Node does not.
unrecord; record "$(winpath "$build/app")\\" 32
capi locate-32-bit-view nothing "reason: quorvel.exe was not found
no install record HKLM\SOFTWARE\Quorvel InstallDir (64-bit view)." locate
# The x86 console's program where the record points, named quorvel.exe: passed over.
x86_helper="$shots/capi-x86-helper"; mkdir -p "$x86_helper"
cp "${QUORVEL_X86_TREE:?}/samples/console/qvconsole.exe" "$x86_helper/quorvel.exe"
unrecord; record "$(winpath "$x86_helper")"
capi locate-not-x64 nothing "reason: quorvel.exe was not found
$(winpath "$x86_helper")\quorvel.exe is a program for x86 (machine 0x014C), not x86-64." locate
unrecord

# --- the sample console: its buttons, the client's asynchronous runs and its status line ---
# In the console's own bitness (x86) where the session runs 32-bit programs, otherwise
# in x86-64. While the sheet is up, the console must run under WoW64 and quorvel.exe not.
said() {  # LOG LINE [N]: the console wrote LINE N times (1)
  [ "$(grep -cxF "$2" "$1" 2>/dev/null)" -ge "${3:-1}" ]
}
status_line() {  # LOG LINE [N]: the console writes LINE, the Nth time
  local _; for _ in $(seq 150); do said "$@" && return 0; sleep 0.2; done
  problem="$problem; no status \"$2\" (had: $(tr '\n' '|' <"$1" 2>/dev/null))"; return 1
}
pick() {  # WIN ROW: selects the list's row by a click (rows 13 pixels apart under Xvfb)
  xdotool mousemove --window "$1" 450 $((53 + 13 * $2)) click 1; sleep 0.3
}
press() {  # WIN KEY LOG LINE [N]: the key again until the console says LINE, the Nth time
  local _ i                                 # (a key can come before the focus)
  for i in 1 2 3; do
    xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key "$2"
    for _ in $(seq 25); do said "$3" "$4" "${5:-1}" && return 0; sleep 0.2; done
  done
  problem="$problem; $2 did nothing (had: $(tr '\n' '|' <"$3" 2>/dev/null))"; return 1
}
console() {
  local exe="$build/samples/console/qvconsole.exe" bits=x86-64 log win pid t0=$SECONDS
  if [ "$driver_bits" = x86 ]; then
    exe="$QUORVEL_X86_TREE/samples/console/qvconsole.exe"; bits=x86
  else
    echo "skipped console-x86: ${x86_state:-the session did not say}; the scenario runs with the x86-64 console"
  fi
  log=$(mktemp); problem=""
  # Started before anything is installed: its status line says why quorvel.exe is
  # missing. Installed meanwhile (the record written), the first button finds it.
  unrecord
  timeout 120 wine "$(winpath "$exe")" "/log:$(winpath "$log")" >/dev/null 2>&1 & pid=$!
  if win=$(timeout 75 xdotool search --sync --name '^Sample console' 2>/dev/null | head -1) && [ -n "$win" ]; then
    # The window can show before the console has written its first status line.
    for _ in $(seq 150); do grep -q '^quorvel.exe was not found: .*; no install record HKLM' "$log" && break; sleep 0.2; done
    grep -q '^quorvel.exe was not found: .*; no install record HKLM' "$log" ||
      problem="$problem; no reason in the status line (had: $(tr '\n' '|' <"$log"))"
    record "$(winpath "$build/app")\\"
    # The sales group is selected at the start.
    press "$win" alt+p "$log" "Properties of Sales Team: open in quorvel."
    if sheet=$(timeout 75 xdotool search --sync --name '^SALES TEAM - Properties$' 2>/dev/null | head -1); then
      local seen; seen=$(wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --wow64 qvconsole.exe 2>/dev/null
        wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --wow64 quorvel.exe 2>/dev/null)
      seen=$(tr -d '\r' <<<"$seen" | tr '\n' ' ')
      [ "$seen" = "qvconsole.exe wow64=$wow64_parent quorvel.exe wow64=0 " ] || problem="$problem; processes: $seen"
      # Meanwhile the Sales Team of the unit Sales/Marketing: named as Staff's, but another
      # object, so its own sheet; its path must write the "/" of the DN as "\/". The
      # same object again is already open.
      pick "$win" 5
      press "$win" alt+p "$log" "Properties of Sales Team: open in quorvel." 2
      for _ in $(seq 150); do
        [ "$(xdotool search --name '^SALES TEAM - Properties$' 2>/dev/null | wc -l)" = 2 ] && break; sleep 0.2
      done
      [ "$(xdotool search --name '^SALES TEAM - Properties$' 2>/dev/null | wc -l)" = 2 ] ||
        problem="$problem; no second sheet, of Sales/Marketing's Sales Team"
      pick "$win" 5  # the newest sheet has the keyboard
      press "$win" alt+p "$log" "Properties of Sales Team: already open in quorvel."
      # The console, clicked last, lies over the sheets' title bars: a click below it.
      answer '^SALES TEAM - Properties$' 60 396 Escape || problem="$problem; the sheets stayed"
      status_line "$log" "Properties of Sales Team: closed, nothing changed." 2
    else problem="$problem; no sheet"; fi
    pick "$win" 4
    press "$win" alt+g "$log" "New group in Staff: open in quorvel."
    fill "console-$bits" group "Console Group" congroup Return || problem="$problem; no wizard"
    status_line "$log" "New group in Staff: created Console Group (congroup), CN=Console Group,$staff"
    # The unit's path for the wizard, too, writes the "/" of the DN as "\/".
    pick "$win" 6
    press "$win" alt+g "$log" "New group in Sales/Marketing: open in quorvel."
    fill "console-$bits-slash" group "Slash Group" slashgroup Return || problem="$problem; no wizard in Sales/Marketing"
    status_line "$log" \
      "New group in Sales/Marketing: created Slash Group (slashgroup), CN=Slash Group,OU=Sales/Marketing,DC=example,DC=com"
    xdotool windowfocus --sync "$win" 2>/dev/null; xdotool key alt+F4
  else problem="$problem; no console window"; fi
  wait "$pid" || problem="$problem; the console did not close"
  rm -f "$log"; unrecord
  report "console-$bits ($((SECONDS - t0)) s)"
}
console

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
