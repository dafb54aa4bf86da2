# shellcheck shell=bash disable=SC2034
# Sourced by the end-to-end scripts as `. lib.sh BUILD_DIR SLAPD_DIR [SCENARIO...]`: the
# session, the tally, a bounded wait, the window helpers and the readers of what the
# stand-ins, qvrecord and the drivers leave behind. A scenario gathers what went wrong
# in $problem (a subshell's helper says it on stderr instead); report tells ok or FAILED.
set -uo pipefail
build=$1; slapd_dir=$2; shift 2
only=" $* "
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
. "$tools/wine-env.sh" || exit 1
shots="$build/test-artifacts/e2e"; mkdir -p "$shots"
server=$(cat "$slapd_dir/server")
staff='OU=Staff,DC=example,DC=com'
failures=0; passed=0; problem=""; launched=""

# selected NAME: no scenarios were named on the command line, or NAME was.
selected() { [[ "$only" = "  " || "$only" = *" $1 "* ]]; }
# report NAME: ok, or FAILED with what $problem gathered, which then starts afresh.
report() {
  if [ -n "$problem" ]; then echo "FAILED $1: ${problem#; }"; failures=$((failures + 1))
  else echo "ok $1"; passed=$((passed + 1)); fi
  problem=""
}
say() { echo "  $1: $2" >&2; }
# wait_until SECONDS MESSAGE COMMAND...: COMMAND again every 0.2 s until it succeeds; at
# the limit MESSAGE (unless empty) goes into $problem, and the answer is 1.
wait_until() {
  local limit=$1 message=$2 t0=$SECONDS
  shift 2
  until "$@"; do
    if ((SECONDS - t0 >= limit)); then [ -z "$message" ] || problem="$problem; $message"; return 1; fi
    sleep 0.2
  done
}
# in_background OUTPUT SECONDS PROGRAM ARG...: a Windows program, its output kept; $launched.
in_background() {
  timeout "$2" wine "$3" "${@:4}" >"$1" 2>/dev/null &
  launched=$!
}
# launch LEDGER STATUS-FILE ARG...: quorvel.exe through qvlaunch, which writes the 32-bit
# exit status; the stand-ins write LEDGER. Each ARG reaches quorvel.exe as one word.
launch() {
  local ledger=$1 status=$2
  shift 2; rm -f "$ledger"
  QUORVEL_STANDIN_LEDGER="$(winpath "$ledger")" in_background "$status" "${launch_limit:-90}" \
    "$(winpath "$build/tools/launcher/qvlaunch.exe")" "$(winpath "$build/app/quorvel.exe")" "$@"
}
# drive FUNCTION NAME: what a person does while $launched runs, then its end.
drive() {
  "$1" "$2" || problem="$problem; driving failed"
  wait "$launched"
}
running() { kill -0 "$launched" 2>/dev/null; }
ended() { ! running; }
# status_is STATUS-FILE EXPECTED: the exit status qvlaunch wrote; the file goes.
status_is() {
  local status; status=$(tr -d '\r\n' <"$1"); rm -f "$1"
  [ "$status" = "$2" ] || problem="$problem; exit status ${status:-none}, expected $2"
}
# ledger_check LEDGER [MODULE...]: each MODULE reported, and no line is other than all
# clear: a count of 0, a request block the host freed exactly once.
ledger_check() {
  local ledger=$1 module left
  shift
  [ -f "$ledger" ] || { problem="$problem; no ledger written"; return; }
  for module in "$@"; do grep -q "^$module pid=" "$ledger" || problem="$problem; no ledger line from $module"; done
  left=$(grep -v -e ' objects=0 references=0 locks=0$' -e '^quorvel_dsprop request frees=1$' \
    -e '^quorvel_dsprop stack ' "$ledger" | tr '\n' ' ')
  [ -z "$left" ] || problem="$problem; outstanding: $left"
}
# expect_in line|part OUTPUT TEXT...: each TEXT is a whole line, or a part of one, of the
# program's OUTPUT file.
expect_in() {
  local how=$1 got text
  got=$(tr -d '\r' <"$2"); shift 2
  for text in "$@"; do
    if [ "$how" = line ]; then grep -qxF -e "$text" <<<"$got"; else grep -qF -e "$text" <<<"$got"; fi ||
      problem="$problem; no \"$text\" in: $(tr '\n' '|' <<<"$got")"
  done
}
# The clipboard as the console reads it, decoded by qvrecord.exe.
qvrecord() { wine "$(winpath "$build/tools/record/qvrecord.exe")" "$@" 2>/dev/null | tr -d '\r'; }
attribute() {  # DN ATTRIBUTE: its values in slapd, one a line
  ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://$server" -b "$1" -s base "$2" 2>/dev/null | sed -n "s/^$2: //p"
}
register_standins() { "$tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" "$@" >/dev/null; }

# window TITLE [SECONDS]: the id of the window whose title is exactly TITLE, once it exists
# (60 s: a 32-bit caller under the emulator may take half a minute to start when loaded).
window() {
  local win="" title limit=${2:-60} t0=$SECONDS pattern
  pattern="^$(sed 's/[][\.*^$()+?{}|]/\\&/g' <<<"$1")\$"
  # xdotool gives up at an X error (a window that goes while it looks): look again.
  while [ -z "$win" ] && ((SECONDS - t0 < limit)); do
    win=$(timeout $((limit - (SECONDS - t0))) xdotool search --sync --name "$pattern" 2>/dev/null | head -1)
  done
  [ -n "$win" ] || { say "$1" "no such window"; return 1; }
  title=$(xdotool getwindowname "$win")
  [ "$title" = "$1" ] || { say "$1" "found \"$title\""; return 1; }
  echo "$win"
}
named() { xdotool search --name "$1" 2>/dev/null; }  # PATTERN: the ids of the windows it matches
none_named() { ! named "$1" >/dev/null; }
closed() { ! xdotool getwindowname "$1" >/dev/null 2>&1; }
# window_gone WIN: the window has been destroyed within 10 s.
window_gone() { wait_until 10 "" closed "$1" || { say "window $1" "still open"; return 1; }; }
# ends_without PATTERN: $launched ends by itself within 90 s (a 32-bit caller may take half
# a minute to start on a loaded machine), and no window of that name shows meanwhile.
ends_without() {
  local seen=""
  wait_until 90 "" seen_or_ended "$1" || { say quorvel.exe "still running"; return 1; }
  [ -z "$seen" ] || { say "$1" "a window is open: $(xdotool getwindowname "$seen" 2>/dev/null)"; return 1; }
}
seen_or_ended() { seen=$(named "$1" | head -1); [ -n "$seen" ] || ended; }
# keys WIN KEY...: real key events to WIN made the focus (sent events lose the modifiers).
keys() {
  local win=$1; shift
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  sleep 0.3
  xdotool key --delay 80 "$@"
}
shot() { sleep 0.5; import -window root "$shots/$1.png" 2>/dev/null || true; }
# answer PATTERN X Y KEY: clicks a window of that name at X,Y (topmost first) and sends
# KEY, until none is left. Wine gives the keyboard to the window a click activates,
# not to the one xdotool focuses.
answer() {
  local _ win
  for _ in 1 2 3 4 5 6; do
    win=$(named "$1" | head -1)
    [ -n "$win" ] || return 0
    xdotool mousemove --window "$win" "$2" "$3" click 1; sleep 0.3; xdotool key "$4"; sleep 0.7
  done
  return 1
}
