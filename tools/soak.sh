#!/usr/bin/env bash
# soak.sh BUILD_DIR [RUNS]: a long day at the console, outside `make test`. RUNS
# (200) sheet runs in a row, each opening one user of its own, replacing its
# description and pressing OK, then RUNS wizard runs in a row, each creating a new
# user. Every run must end with its own exit status (1 after the sheet's edit, 0
# after Finish) and leave nothing outstanding in the stand-ins' ledger; at the end
# slapd must hold every value applied and every user created. A private Wine
# session and slapd, so that it can run beside the tests. Failures are reported by
# run number; the summary goes to build/reports/soak-summary.txt.
set -uo pipefail
# Bash reads a script while it runs it: the whole body in one block, read before it
# starts, so that editing this file during a soak changes nothing under it.
{
build=$(cd "${1:?build folder}" && pwd); runs=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
reports="$here/../build/reports"; mkdir -p "$reports"; reports=$(cd "$reports" && pwd)
work="$build/soak"; rm -rf "$work/ledgers" "$work"/stuck-*; mkdir -p "$work/ledgers"
session="$build/soak-wine"; directory="$build/soak-slapd"
cleanup() {
  "$here/wine-session.sh" stop "$session" >/dev/null 2>&1 || true
  "$here/slapd.sh" stop "$directory" >/dev/null 2>&1 || true
}
trap cleanup EXIT
# A copy of the programs and stand-ins, so that a build during the soak changes nothing under it.
bin="$work/bin"; rm -rf "$bin"; mkdir -p "$bin/standins"
cp "$build/app/quorvel.exe" "$build/tools/launcher/qvlaunch.exe" "$bin/" || exit 1
cp "$build"/standins/*.dll "$bin/standins/" || exit 1
"$here/wine-session.sh" start "$session" >/dev/null || exit 1
server=$("$here/slapd.sh" start "$directory") || exit 1
"$here/register-standins.sh" "$session" "$bin/standins" "$server" >/dev/null || exit 1
export QUORVEL_WINE_DIR="$session"
. "$here/wine-env.sh" || exit 1
ou='OU=Soak,DC=example,DC=com'
stamp=$(date +%s)
log="$work/soak.log"; : >"$log"
failed_sheet=(); failed_wizard=()
started=$SECONDS

# The sheet runs' users, one each, made at once through slapd.
{
  printf 'dn: %s\nobjectClass: top\nobjectClass: organizationalUnit\nou: Soak\n\n' "$ou"
  for ((n = 1; n <= runs; n++)); do
    printf 'dn: CN=Soak Sheet %03d,%s\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n' "$n" "$ou"
    printf 'objectClass: user\ncn: Soak Sheet %03d\nsn: Sheet\nsAMAccountName: soaksheet%03d\ndescription: before\n\n' "$n" "$n"
  done
} | ldapadd -x -H "ldap://$server" >/dev/null || { echo "soak: the sheet users could not be added" >&2; exit 1; }

attribute() {  # DN ATTRIBUTE
  ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$1" -s base "$2" 2>/dev/null | sed -n "s/^$2: //p"
}
value_of() { printf 'Soak %s run %03d' "$stamp" "$1"; }

# start TAIL LEDGER: quorvel.exe through qvlaunch in the background; its status goes to $status_file.
start() {
  status_file="$work/status"; : >"$status_file"; rm -f "$work/late"
  # Unquoted: blanks in a path go on as the console writes them, not quoted by Wine.
  # shellcheck disable=SC2086
  QUORVEL_STANDIN_LEDGER="$(winpath "$2")" timeout 90 wine "$(winpath "$bin/qvlaunch.exe")" "$(winpath "$bin/quorvel.exe")" $1 >"$status_file" 2>/dev/null &
  launched=$!
}
# finish KIND N EXPECTED LEDGER PROBLEM: waits, checks status and ledger, records the outcome.
finish() {
  local kind=$1 n=$2 expected=$3 ledger=$4 problem=$5
  wait "$launched"
  [ -f "$work/late" ] && problem="$problem; $(cat "$work/late")"
  local status; status=$(tr -d '\r\n' <"$status_file")
  [ "$status" = "$expected" ] || problem="$problem; exit status ${status:-none}, expected $expected"
  if [ ! -s "$ledger" ]; then
    problem="$problem; no ledger"
  elif grep -v ' objects=0 references=0 locks=0$' "$ledger" | grep -q .; then
    problem="$problem; outstanding: $(grep -v ' objects=0 references=0 locks=0$' "$ledger" | tr '\n' ' ')"
  fi
  if [ -n "$problem" ]; then
    [ -s "$work/stuck-$kind-$n.txt" ] && problem="$problem (threads in soak/stuck-$kind-$n.txt)"
    echo "FAILED $kind run $n: ${problem#; }" | tee -a "$log"
    if [ "$kind" = sheet ]; then failed_sheet+=("$n"); else failed_wizard+=("$n"); fi
    # Whatever the run left goes before the next one starts: its quorvel.exe, if it
    # still runs (the soak's own copy: only this run's can be running), and windows.
    for pid in $(pgrep -f 'soak.bin.quorvel\.exe'); do kill "$pid" 2>/dev/null; done
    xdotool search --name '( - Properties|^New Object - .*)$' 2>/dev/null | while read -r w; do
      xdotool windowclose "$w" 2>/dev/null; done
  else
    echo "ok $kind run $n" >>"$log"
  fi
}
# appears TITLE-PATTERN: the window, once there. One that takes longer than 40 s
# fails the run, and is still used, so that the log tells a slow window from none.
appears() {
  local t0=$SECONDS win=""
  # xdotool gives up at an X error (a window that goes while it looks): look again.
  while [ -z "${win:-}" ] && ((SECONDS - t0 < 40)); do
    win=$(timeout $((40 - (SECONDS - t0))) xdotool search --sync --name "$1" 2>/dev/null | head -1)
  done
  if [ -z "$win" ]; then
    # Where quorvel.exe's threads wait, for the report; then a last chance. winedbg is
    # given long: cut off while it holds the process, it ends that (0xC0000354).
    timeout 180 winedbg --command "bt all" 2>/dev/null | awk '/^Backtracing for thread/ { p = /quorvel/ } p' \
      >"$work/stuck-$current.txt"
    win=$(timeout 40 xdotool search --sync --name "$1" 2>/dev/null | head -1)
  fi
  [ -n "$win" ] || return 1
  (( SECONDS - t0 <= 40 )) || echo "the window took $((SECONDS - t0)) s" >"$work/late"
  echo "$win"
}
focus() {
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  sleep 0.3
}

sheet_started=$SECONDS
for ((n = 1; n <= runs; n++)); do
  name=$(printf 'Soak Sheet %03d' "$n"); ledger="$work/ledgers/sheet-$n.ledger"; current=sheet-$n
  start "/adproppage:LDAP://CN=$name,$ou" "$ledger"
  problem=""
  caption="$(echo "$name" | tr a-z A-Z) - Properties"
  if win=$(appears "^$caption\$"); then
    focus "$win"
    xdotool key --delay 60 alt+d ctrl+a
    xdotool type --delay 15 "$(value_of "$n")"
    xdotool key Return
  else
    problem="; no window \"$caption\""
  fi
  finish sheet "$n" 0x00000001 "$ledger" "$problem"
  (( n % 20 == 0 )) && echo "sheet runs: $n of $runs, ${#failed_sheet[@]} failed, $((SECONDS - sheet_started)) s"
done
sheet_seconds=$((SECONDS - sheet_started))

wizard_started=$SECONDS
for ((n = 1; n <= runs; n++)); do
  ledger="$work/ledgers/wizard-$n.ledger"; current=wizard-$n
  start "/adcreateobjwiz:$ou|0" "$ledger"
  problem=""
  if win=$(appears '^New Object - user$'); then
    focus "$win"
    xdotool type --delay 15 "$(printf 'Soak User %03d' "$n")"
    xdotool key Tab
    xdotool type --delay 15 "$(printf 'soakuser%03d' "$n")"
    xdotool key Return
  else
    problem="; no wizard"
  fi
  finish wizard "$n" 0x00000000 "$ledger" "$problem"
  (( n % 20 == 0 )) && echo "wizard runs: $n of $runs, ${#failed_wizard[@]} failed, $((SECONDS - wizard_started)) s"
done
wizard_seconds=$((SECONDS - wizard_started))

# What slapd holds at the end, read back in two searches as "cn<TAB>value" lines.
pairs() {  # FILTER ATTRIBUTE
  ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$ou" "$1" cn "$2" |
    awk -v a="$2: " '/^cn: /{cn=substr($0,5)} index($0,a)==1{v=substr($0,length(a)+1)} /^$/{print cn "\t" v; cn=v=""}
                     END{if (cn != "") print cn "\t" v}'
}
descriptions=$(pairs '(cn=Soak Sheet *)' description)
accounts=$(pairs '(cn=Soak User *)' sAMAccountName)
missing_values=(); missing_users=()
for ((n = 1; n <= runs; n++)); do
  grep -qFx "$(printf 'Soak Sheet %03d\t%s' "$n" "$(value_of "$n")")" <<<"$descriptions" || missing_values+=("$n")
  grep -qFx "$(printf 'Soak User %03d\tsoakuser%03d' "$n" "$n")" <<<"$accounts" || missing_users+=("$n")
done

list() { if [ $# -eq 0 ]; then echo none; else echo "$*"; fi; }
{
  echo "soak $(date -u '+%Y-%m-%d %H:%M UTC'), $runs sheet runs and $runs wizard runs, $((SECONDS - started)) s in all"
  echo "sheet runs: $runs, failed: ${#failed_sheet[@]} ($(list "${failed_sheet[@]}")), $sheet_seconds s"
  echo "wizard runs: $runs, failed: ${#failed_wizard[@]} ($(list "${failed_wizard[@]}")), $wizard_seconds s"
  echo "values missing in slapd: ${#missing_values[@]} ($(list "${missing_values[@]}"))"
  echo "users missing in slapd: ${#missing_users[@]} ($(list "${missing_users[@]}"))"
} | tee "$reports/soak-summary.txt"
[ $((${#failed_sheet[@]} + ${#failed_wizard[@]} + ${#missing_values[@]} + ${#missing_users[@]})) -eq 0 ]
exit
}
