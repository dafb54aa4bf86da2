#!/usr/bin/env bash
# demo.sh BUILD_DIR [X86_BUILD_DIR]: the sample console (samples/console) on the
# bundled demo directory, running quorvel.exe through the client library. Starts a
# private slapd with the demo data, registers the stand-in directory components in
# a demo prefix and starts the console: its x86 build from X86_BUILD_DIR, under WoW64,
# when the session found that Wine runs 32-bit programs, otherwise the x86-64 build
# (the reason is printed).
# With DISPLAY set the console appears there for a person to use; without one it
# runs under Xvfb: Properties on the sales group, photographed with the console
# behind to build/demo/sheet.png and closed with Cancel; New user, filled in for
# Dana Park (dpark), photographed to build/demo/wizard.png and finished; then the
# console with its status line to build/demo/console.png. Prints the console's
# status lines, and after the wizard the record left on the clipboard, decoded.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
x86=${2:-}
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
console="$build/samples/console/qvconsole.exe"; bits=x86-64
reason=$(cat "$session/wine32" 2>/dev/null || true)
if [ "$reason" != ok ]; then
  echo "32-bit console: skipped (${reason:-the session did not say}); the x86-64 build of the console runs instead"
elif [ -n "$x86" ] && [ -f "$x86/samples/console/qvconsole.exe" ]; then
  console="$(cd "$x86" && pwd)/samples/console/qvconsole.exe"; bits=x86
  echo "32-bit console: Wine runs it under WoW64 (i386 code through qemu-i386), quorvel.exe natively as x86-64"
else
  echo "32-bit console: skipped (no x86 build given: make windows-x86); the x86-64 console runs"
fi
server=$("$here/slapd.sh" start "$directory")
"$here/register-standins.sh" "$session" "$build/standins" "$server"
export QUORVEL_WINE_DIR="$session"
. "$here/wine-env.sh"
qvrecord() { wine "$(winpath "$build/tools/record/qvrecord.exe")" "$@" 2>/dev/null | tr -d '\r'; }
echo "directory: ldap://$server/ (DC=example,DC=com)"
# A record left from an earlier run must not pass for this one's (the console
# would say "names unknown"; the decoded record below would mislead).
qvrecord --clear

# The console finds quorvel.exe as on an installed machine: through the install
# record, in the 64-bit registry view, here pointing at the build tree.
wine reg add 'HKLM\SOFTWARE\Quorvel' /v InstallDir /d "$(winpath "$build/app")\\" /reg:64 /f >/dev/null 2>&1

log="$out/console.log"; rm -f "$log"
echo "running the $bits console: qvconsole.exe, quorvel.exe from HKLM\SOFTWARE\Quorvel InstallDir: $build/app/"
wine "$(winpath "$console")" "/log:$(winpath "$log")" >/dev/null 2>&1 &
console_pid=$!

# The status lines the console has written since line FROM, once one of them
# starts with PREFIX and says how the run ended.
ended() {
  local prefix=$1 from=$2
  for _ in $(seq 300); do
    if tail -n +"$from" "$log" 2>/dev/null | grep -v ': open in quorvel\.$' | grep -q "^$prefix"; then return 0; fi
    sleep 0.1
  done
  echo "demo: no outcome for \"$prefix\" in the console's status line" >&2
  return 1
}
lines() { wc -l <"$log" 2>/dev/null || echo 0; }
# shoot FILE WIN...: the windows, bottom to top, in one photograph, on a plain
# background where none of them covers the screen (Xvfb's own root is black).
shoot() {
  local file=$1; shift
  local x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT SCREEN WINDOW w i=0 parts=()
  for w in "$@"; do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    ((X < x0)) && x0=$X; ((Y < y0)) && y0=$Y
    ((X + WIDTH > x1)) && x1=$((X + WIDTH)); ((Y + HEIGHT > y1)) && y1=$((Y + HEIGHT))
  done
  for w in "$@"; do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    import -window "$w" "$out/part$i.png" || return 1
    parts+=("$out/part$i.png" -geometry "+$((X - x0))+$((Y - y0))" -composite); i=$((i + 1))
  done
  convert -size "$((x1 - x0))x$((y1 - y0))" xc:'#6d8fb3' "${parts[@]}" "$file" &&
    echo "screenshot: build/demo/$(basename "$file")"
  rm -f "$out"/part*.png
}
key() { xdotool windowfocus --sync "$1" 2>/dev/null || true; shift; xdotool key "$@"; }
# press WIN KEY LINE: the key again until the console says LINE (a key can come before the focus).
press() {
  local _ i
  for i in 1 2 3; do
    key "$1" "$2"
    for _ in $(seq 25); do grep -qxF "$3" "$log" 2>/dev/null && return 0; sleep 0.2; done
  done
  echo "demo: $2 did nothing in the console" >&2
}

if [ -n "${QUORVEL_USE_DISPLAY:-}" ]; then
  echo "the console is on $QUORVEL_USE_DISPLAY; close it to end the demo"
  wait "$console_pid" || true
  echo "console's status lines:"; sed 's/^/  /' "$log" 2>/dev/null || true
  exit 0
fi

if ! win=$(timeout 60 xdotool search --sync --name '^Sample console' | head -1); then
  echo "demo: the console did not appear" >&2; exit 1
fi
# Where the sheet, which opens at the screen's corner, leaves the console's list in sight.
xdotool windowmove --sync "$win" 360 120 2>/dev/null || xdotool windowmove "$win" 360 120 || true
sleep 0.5
# The sales group is the first row, selected: Properties.
from=$(($(lines) + 1))
press "$win" alt+p "Properties of Sales Team: open in quorvel."
caption='SALES TEAM - Properties'
if sheet=$(timeout 60 xdotool search --sync --name "^$caption\$" | head -1); then
  sleep 1
  # As Windows reports it of the two running processes.
  for program in qvconsole.exe quorvel.exe; do
    wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" --wow64 "$program" 2>/dev/null | tr -d '\r' |
      sed 's/^/while the sheet is up: /; s/wow64=1$/runs under WoW64 (32-bit)/; s/wow64=0$/runs natively (64-bit)/'
  done
  shoot "$out/sheet.png" "$win" "$sheet"
  key "$sheet" Escape
  ended "Properties of Sales Team" "$from" || true
else
  echo "demo: the sheet did not appear" >&2
fi

# A new user beside the selected group, in OU=Staff.
from=$(($(lines) + 1))
press "$win" alt+u "New user in Staff: open in quorvel."
if wizard=$(timeout 60 xdotool search --sync --name '^New Object - user$' | head -1); then
  sleep 0.5
  xdotool windowfocus --sync "$wizard" 2>/dev/null || true
  xdotool type --delay 20 "Dana Park"
  xdotool key Tab
  xdotool type --delay 20 dpark
  sleep 0.3
  shoot "$out/wizard.png" "$win" "$wizard"
  xdotool key Return
  ended "New user in Staff" "$from" && sleep 0.5 && shoot "$out/console.png" "$win"
else
  echo "demo: the wizard did not appear" >&2
fi
echo "console's status lines:"
sed 's/^/  /' "$log" 2>/dev/null || true
echo "record on the clipboard (tarnwick.adcreateobjwiz.clip):"
qvrecord | sed 's/^/  /'
key "$win" alt+F4
timeout 20 tail --pid="$console_pid" -f /dev/null || echo "demo: the console did not close" >&2
