#!/usr/bin/env bash
# wizard_e2e.sh BUILD_DIR SLAPD_DIR [SCENARIO...]: quorvel.exe's creation job over the stand-in
# wizard and directory, the wizard filled in with xdotool as a person would. Each
# scenario checks the 32-bit exit status, what is on the clipboard afterwards (read
# back by qvrecord.exe, a program of its own, as the console would read it), what
# landed in slapd, and that quorvel.exe released every object the stand-ins handed out.
# Scenarios named on the command line after the two folders run alone.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh" "$@"

# The install record, as the installer writes it: HKLM\SOFTWARE\Quorvel InstallDir in
# the 64-bit view (VIEW 32: where a 32-bit process's own reads would land instead).
install_record() {  # FOLDER [VIEW]
  wine reg add 'HKLM\SOFTWARE\Quorvel' /v InstallDir /d "$1" "/reg:${2:-64}" /f >/dev/null 2>&1
}
drop_install_record() {  # the 64-bit value only: the stand-ins keep their settings under the same key
  wine reg delete 'HKLM\SOFTWARE\Quorvel' /v InstallDir /reg:64 /f >/dev/null 2>&1
  # Nothing of ours belongs in the 32-bit view: the key a scenario made there goes whole.
  wine reg delete 'HKLM\SOFTWARE\WOW6432Node\Quorvel' /reg:64 /f >/dev/null 2>&1
}
drop_install_record

# The wizard's registration comes back when a scenario took it away, also on failure.
unregistered=0
restore() {
  drop_install_record
  if [ "$unregistered" = 1 ]; then register_standins; fi
}
trap restore EXIT

# wizard NAME EXPECTED-STATUS TAIL DRIVE MODULES: MODULES are the stand-ins that must
# report in the ledger (each with nothing outstanding); check_NAME adds its own checks.
wizard() {
  local name=$1 t0=$SECONDS status_file ledger="$shots/wizard-$1.ledger"
  selected "$name" || return
  status_file=$(mktemp)
  qvrecord --seed "seed-$name"
  # No blanks in these tails: each goes to qvlaunch as one word and on verbatim.
  launch "$ledger" "$status_file" "$3"
  drive "$4" "$name"
  status_is "$status_file" "$2"
  # shellcheck disable=SC2086
  [ -z "$5" ] && [ ! -f "$ledger" ] || ledger_check "$ledger" $5
  "check_${name//-/_}" || true
  report "$name ($2, $((SECONDS - t0)) s)"
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
wizard_window() { window "New Object - $1" 75; }  # CLASS
fill() {  # SHOT CLASS NAME ACCOUNT [KEY]: without KEY the wizard is left filled in
  local win; win=$(wizard_window "$2") || return 1
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
wizard_gone() { wait_until 20 "" none_named "^New Object - $1\$"; }  # CLASS: its wizard has closed
no_wizard() { ends_without '^New Object - '; }

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

wizard user 0x00000000 "/adcreateobjwiz:$staff|0" drive_user "quorvel_dsadmin quorvel_adsldp"
wizard cancel 0x00000001 "/adcreateobjwiz:$staff|0" drive_cancel "quorvel_dsadmin quorvel_adsldp"
wizard group 0x00000000 "/adcreateobjwiz:$staff|1" drive_group "quorvel_dsadmin quorvel_adsldp"
wizard computer 0x00000000 "/adcreateobjwiz:$staff|2" drive_computer "quorvel_dsadmin quorvel_adsldp"
wizard name-taken 0x80071392 "/adcreateobjwiz:$staff|0" drive_name_taken "quorvel_dsadmin quorvel_adsldp"
# Type 3 reaches the wizard as an empty class name, which its Initialize refuses.
wizard unknown-type 0x80070057 "/adcreateobjwiz:$staff|3" no_wizard "quorvel_dsadmin quorvel_adsldp"
wizard no-container 0x80072030 "/adcreateobjwiz:OU=Nowhere,DC=example,DC=com|0" no_wizard "quorvel_adsldp"
unregistered=1
register_standins --without wizard
wizard not-registered 0x80004002 "/adcreateobjwiz:$staff|0" no_wizard "quorvel_adsldp"
register_standins && unregistered=0

# --- the client library: quorvel.exe run by client/ through qvclient_driver ---
. "$here/client_bits.sh"
helper=$(winpath "$build/app/quorvel.exe")
holder=$(winpath "$build/tests/createwiz/createwiz_clipboard_holder.exe")
# wizard_client NAME DRIVE EXPECTED-OUTCOME EXPECTED-NAMES DN TYPE [--x64] [OPTIONS]:
# EXPECTED-NAMES is DN|NAME|ACCOUNT, or empty where no names may be reported. --x64: the
# x86-64 driver, where the run is the 64-bit console's own. $client_helper, when set,
# stands in for quorvel.exe (the x86-64 driver playing another helper).
wizard_client() {
  local name=client-$1 drive=$2 outcome=$3 names=$4 dn=$5 type=$6 t0=$SECONDS; shift 6
  local exe=$driver parent=$wow64_parent bits=$driver_bits flags=$driver_flags
  if [ "${1:-}" = --x64 ]; then exe=$driver_x64 parent=0 bits=x86-64 flags=; shift; fi
  selected "$name" || return
  output=$(mktemp)
  # shellcheck disable=SC2086
  in_background "$output" 150 "$exe" $flags "$@" "${client_helper:-$helper}" wizard "$dn" "$type"
  drive "$drive" "$name"
  wizard_client_check "$output" "$outcome" "$names" "$parent" "$bits"
  rm -f "$output"
  report "$name ($bits, $((SECONDS - t0)) s)"
}
wizard_client_check() {  # OUTPUT OUTCOME NAMES PARENT BITS: adds to $problem
  # A run refused before any start has no quorvel.exe to look at, nor has one whose
  # helper another program plays.
  if [[ "$2" = Refused* ]] || [ -n "${client_helper:-}" ]; then wow64_check "$1" - "$4"; else wow64_check "$1" 0 "$4"; fi
  expect_in line "$1" "outcome: $2"
  if [ -n "$3" ]; then expect_in line "$1" "names: $3"
  elif grep -q '^names:' "$1"; then problem="$problem; $(grep '^names' "$1" | tr -d '\r')"; fi
  probes_check "$1" "$5"
}
client_user() { fill "$1" user "Cli User" cliuser Return; }
client_cancel() { fill "$1" user "Cli Nobody" clinobody Escape; }
client_held() {  # fills the wizard once the holder has the clipboard
  wait_until 80 "" grep -q '^held' "$output" && fill "$1" group "Held Group" heldgroup Return
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
  if wizard_window user >/dev/null && wizard_window group >/dev/null; then shot "wizard-$1-both"
  else problem="$problem; the two wizards were not up at once"; fi
  fill "$1-group" group "Twin Two" twintwo Return && wizard_gone group && fill "$1-user" user "Twin One" twinone Return
  local filled=$?
  wait "$second"
  wizard_client_check "$other" "Created 0x00000000" "CN=Twin Two,$staff|Twin Two|twintwo" "$wow64_parent" "$driver_bits"
  rm -f "$other"
  return $filled
}
wizard_client user client_user "Created 0x00000000" "CN=Cli User,$staff|Cli User|cliuser" "$staff" 0
wizard_client cancel client_cancel "Cancelled 0x00000001" "" "$staff" 0 --async
wizard_client failed drive_name_taken "Failed 0x80071392" "" "$staff" 0 --x64 --async
wizard_client refused no_wizard "Refused 0x80070057" "" "OU=a|b,$staff" 0
# The record of the run before stays, and another program holds the clipboard while
# quorvel.exe publishes (let go once it has ended): names unknown, not the old ones.
wizard_client held client_held "CreatedNamesUnknown 0x00000000" "" "$staff" 1 --async --hold "$holder"
if selected client-held; then
  [ "$(attribute "CN=Held Group,$staff" sAMAccountName)" = heldgroup ] || problem="$problem; Held Group is not in slapd"
  report "client-held in slapd"
fi
wizard_client twins client_twins "Created 0x00000000" "CN=Twin One,$staff|Twin One|twinone" "$staff" 0 --async
# Another helper ends 0 and leaves a record that names no run (as one older than the
# library), or another run: names unknown, never that record's names.
qvrecord --seed bare
QVCLIENT_HELPER_PUBLISH=bare client_helper=$driver_x64 wizard_client bare no_wizard "CreatedNamesUnknown 0x00000000" "" \
  "$staff" 0
QVCLIENT_HELPER_PUBLISH=foreign client_helper=$driver_x64 wizard_client foreign no_wizard \
  "CreatedNamesUnknown 0x00000000" "" "$staff" 0 --async
# The helper publishes this run's record and, 500 ms later and still running, another
# run's, which is on the clipboard at the end: only the run's listener, not its look
# after the exit, can find its names.
foreign_last() {
  no_wizard && [ "$(qvrecord | head -1)" = "distinguishedName: CN=Foreign Object,$staff" ] ||
    { say "$1" "the foreign record is not the last: $(qvrecord | tr '\n' '|')"; return 1; }
}
QVCLIENT_HELPER_PUBLISH=mine-then-foreign client_helper=$driver_x64 wizard_client listened foreign_last \
  "Created 0x00000000" "CN=Listened Object,$staff|Listened Object|listened" "$staff" 0 --async

# The orphan: console A is killed while its wizard is open. Then console B's runs
# cancel, fail and end 0 without publishing, the last two (other helpers, whose message
# boxes leave A's wizard uncovered) while A's wizard publishes. B never reports A's
# object, which is in slapd.
orphan() {
  local a awin b2 b3 out2 out3 early boxes=0
  selected client-orphan || return
  qvrecord --seed orphan
  wine "$driver_x64" --async "$helper" wizard "$staff" 2 >/dev/null 2>&1 & a=$!
  awin=$(wizard_window computer) || problem="$problem; A's wizard did not show"
  kill -KILL "$a"; wait "$a" 2>/dev/null
  early=$problem; problem=""
  only="  " wizard_client orphan-cancel client_cancel "Cancelled 0x00000001" "" "$staff" 0 --async
  problem=$early; out2=$(mktemp); out3=$(mktemp)
  export QVCLIENT_HELPER_WAIT=1 QVCLIENT_HELPER_PUBLISH=none
  QVCLIENT_HELPER_EXIT=0x80071392 timeout 240 wine "$driver_x64" --async "$driver_x64" wizard "$staff" 0 >"$out2" 2>/dev/null &
  b2=$!
  timeout 240 wine "$driver_x64" --async "$driver_x64" wizard "$staff" 0 >"$out3" 2>/dev/null & b3=$!
  unset QVCLIENT_HELPER_WAIT QVCLIENT_HELPER_PUBLISH
  # A loaded machine takes its time to start the two: a box that came after A's wizard
  # was filled would take its keys, and one that came after the answers would stay.
  two_boxes() { boxes=$(named '^Another helper$' | wc -l); [ "$boxes" = 2 ]; }
  wait_until 90 "" two_boxes || problem="$problem; $boxes of the other helpers' boxes showed"
  xdotool windowfocus --sync "$awin" 2>/dev/null || true
  xdotool mousemove --window "$awin" 230 43 click 1; sleep 0.3  # activates it (see answer)
  xdotool type --delay 20 ORPHANPC; xdotool key Tab; xdotool type --delay 20 'ORPHANPC$'
  import -window root "$shots/wizard-orphan.png" 2>/dev/null
  xdotool key Return
  wizard_gone computer || problem="$problem; A's wizard did not close"
  answer '^Another helper$' 10 10 Return || answer '^Another helper$' 10 10 Return ||
    problem="$problem; the other helpers' boxes stayed"
  wait "$b2"; wait "$b3"
  client_helper=$driver_x64 wizard_client_check "$out2" "Failed 0x80071392" "" 0 x86-64
  client_helper=$driver_x64 wizard_client_check "$out3" "CreatedNamesUnknown 0x00000000" "" 0 x86-64
  rm -f "$out2" "$out3"
  expect_in_slapd "CN=ORPHANPC,$staff" computer 'ORPHANPC$'
  report client-orphan
}
orphan

# --- quorvel_client.dll through qvcapi_driver, as a console in another language takes it ---
# From the x86 driver under WoW64 where this machine runs 32-bit programs: its
# %ProgramFiles% and registry view are the redirected ones.
# wizard_capi NAME DRIVE LINES ARGS...: each of LINES (one a line) is in the driver's output.
wizard_capi() {
  local name=capi-$1 drive=$2 texts; shift 2
  mapfile -t texts <<<"wow64: $wow64_parent"$'\n'"$1"; shift
  selected "$name" || return
  output=$(mktemp)
  in_background "$output" 90 "$(winpath "$client_tree/tests/client/qvcapi_driver.exe")" "$@"
  drive "$drive" "$name"
  expect_in part "$output" "${texts[@]}"; rm -f "$output"
  report "$name"
}
nothing() { true; }
capi_user() { fill "$1" user "Capi User" capiuser Return; }
install_record "$(winpath "$build/app")\\"
wizard_capi wizard capi_user "helper: $helper
outcome: Created 0x00000000
names: CN=Capi User,$staff|Capi User|capiuser" wizard "$staff" 0
wizard_capi locate nothing "helper: $helper
reason: quorvel.exe was found in the installed folder" locate
# Only the 64-bit view counts; a record a 32-bit installer left in WOW6432Node does not.
drop_install_record; install_record "$(winpath "$build/app")\\" 32
wizard_capi locate-32-bit-view nothing "reason: quorvel.exe was not found
no install record HKLM\SOFTWARE\Quorvel InstallDir (64-bit view)." locate
# The x86 console's program where the record points, named quorvel.exe: passed over.
x86_helper="$shots/capi-x86-helper"; mkdir -p "$x86_helper"
cp "${QUORVEL_X86_TREE:?}/samples/console/qvconsole.exe" "$x86_helper/quorvel.exe"
drop_install_record; install_record "$(winpath "$x86_helper")"
wizard_capi locate-not-x64 nothing "reason: quorvel.exe was not found
$(winpath "$x86_helper")\quorvel.exe is a program for x86 (machine 0x014C), not x86-64." locate
drop_install_record

# --- the sample console: its buttons, the client's asynchronous runs and its status line ---
# In the console's own bitness (x86) where the session runs 32-bit programs, otherwise
# in x86-64. While the sheet is up, the console must run under WoW64 and quorvel.exe not.
# Its rules for DNs are the client's (dn_rules_test): one run through them here.
said() {  # LOG LINE [N]: the console wrote LINE N times (1)
  [ "$(grep -cxF "$2" "$1" 2>/dev/null)" -ge "${3:-1}" ]
}
status_line() {  # LOG LINE [N]: the console writes LINE, the Nth time
  wait_until 30 "" said "$@" || problem="$problem; no status \"$2\" (had: $(tr '\n' '|' <"$1" 2>/dev/null))"
}
console_pick() {  # WIN ROW: selects the list's row by a click (rows 13 pixels apart under Xvfb)
  xdotool mousemove --window "$1" 450 $((53 + 13 * $2)) click 1; sleep 0.3
}
console_press() {  # WIN KEY LOG LINE: the key again until the console says LINE (a key can come before the focus)
  local _
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key "$2"
    wait_until 5 "" said "$3" "$4" && return 0
  done
  problem="$problem; $2 did nothing (had: $(tr '\n' '|' <"$3" 2>/dev/null))"; return 1
}
console() {
  local exe="$build/samples/console/qvconsole.exe" bits=x86-64 log win pid seen t0=$SECONDS
  if [ "$driver_bits" = x86 ]; then
    exe="$QUORVEL_X86_TREE/samples/console/qvconsole.exe"; bits=x86
  else
    echo "skipped console-x86: ${x86_state:-the session did not say}; the scenario runs with the x86-64 console"
  fi
  selected "console-$bits" || return
  log=$(mktemp)
  # Started before anything is installed: its status line says why quorvel.exe is
  # missing. Installed meanwhile (the record written), the first button finds it.
  drop_install_record
  timeout 120 wine "$(winpath "$exe")" "/log:$(winpath "$log")" >/dev/null 2>&1 & pid=$!
  if win=$(window "Sample console ($bits)" 75); then
    # The window can show before the console has written its first status line.
    wait_until 30 "" grep -q '^quorvel.exe was not found: .*; no install record HKLM' "$log" ||
      problem="$problem; no reason in the status line (had: $(tr '\n' '|' <"$log"))"
    install_record "$(winpath "$build/app")\\"
    # The sales group is selected at the start.
    console_press "$win" alt+p "$log" "Properties of Sales Team: open in quorvel."
    if window 'SALES TEAM - Properties' 75 >/dev/null; then
      seen=$(wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --wow64 qvconsole.exe 2>/dev/null
        wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --wow64 quorvel.exe 2>/dev/null)
      seen=$(tr -d '\r' <<<"$seen" | tr '\n' ' ')
      [ "$seen" = "qvconsole.exe wow64=$wow64_parent quorvel.exe wow64=0 " ] || problem="$problem; processes: $seen"
      # The console, clicked last, may lie over the sheet's title bar: a click below it.
      answer '^SALES TEAM - Properties$' 60 396 Escape || problem="$problem; the sheet stayed"
      status_line "$log" "Properties of Sales Team: closed, nothing changed."
    else problem="$problem; no sheet"; fi
    # A group in the unit Sales/Marketing: the path writes the "/" of its DN as "\/".
    console_pick "$win" 6
    console_press "$win" alt+g "$log" "New group in Sales/Marketing: open in quorvel."
    fill "console-$bits-slash" group "Slash Group" slashgroup Return || problem="$problem; no wizard in Sales/Marketing"
    status_line "$log" \
      "New group in Sales/Marketing: created Slash Group (slashgroup), CN=Slash Group,OU=Sales/Marketing,DC=example,DC=com"
    xdotool windowfocus --sync "$win" 2>/dev/null; xdotool key alt+F4
  else problem="$problem; no console window"; fi
  wait "$pid" || problem="$problem; the console did not close"
  rm -f "$log"; drop_install_record
  report "console-$bits ($((SECONDS - t0)) s)"
}
console

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
