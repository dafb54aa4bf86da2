#!/usr/bin/env bash
# wine-session.sh start|stop DIR
# QUORVEL_USE_DISPLAY=:0 uses that display instead of a private Xvfb one.
# One Xvfb display and one Wine prefix per build tree. Every Wine process of the
# tree runs with this display, so the wineserver never holds a desktop without one.
set -euo pipefail
cmd=${1:?start or stop}; dir=${2:?session folder}
mkdir -p "$dir"; dir=$(cd "$dir" && pwd)
. "$(dirname "$0")/wine-common.sh"
export WINEPREFIX="$dir/prefix"

stop() {
  if [ -f "$dir/display" ]; then
    DISPLAY="$(cat "$dir/display")" wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/display"
}

case "$cmd" in
stop) stop; exit 0 ;;
start) ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac

stop
if [ -n "${QUORVEL_USE_DISPLAY:-}" ]; then
  # A person's own display: windows appear there, and no Xvfb is started.
  echo "$QUORVEL_USE_DISPLAY" >"$dir/display"
  export DISPLAY="$QUORVEL_USE_DISPLAY"
else
# A free display: the lock file tells Xvfb's own claim; flock keeps two trees apart.
exec 9>/tmp/.quorvel-xvfb.lock
flock 9
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 </dev/null &
echo $! >"$dir/xvfb.pid"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
flock -u 9
[ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
echo ":$n" >"$dir/display"
export DISPLAY=":$n"
fi

# A prefix booted before Wine could run 32-bit programs has no 32-bit half, and
# wineboot -u cannot add it (its 32-bit step needs that half to start): once 32-bit
# programs run here, such a prefix is made anew.
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/cmd.exe" ] &&
  "$(dirname "$0")/wine32.sh" >/dev/null 2>&1; then
  echo "wine session: $WINEPREFIX has no 32-bit half; it is made anew"
  rm -rf "$WINEPREFIX"
fi
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >"$dir/wineboot.log" 2>&1
# A crash must end the program at once with its exception code. With Auto "0" and
# no Debugger, Wine 8 still prints "starting debugger..." and the program hangs;
# an automatic debugger that does not exist makes the crash end the process.
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
wine reg add "$aedebug" /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
wine reg add "$aedebug" /v Debugger /t REG_SZ /d 'C:\windows\system32\quorvel-no-debugger.exe %ld %ld' /f \
  >/dev/null 2>&1
# Xvfb has no window manager: Wine would wait two seconds for every closing managed
# window to be withdrawn. The programs whose windows tests and the demo drive are
# left unmanaged instead: their windows close at once and Wine draws their frames
# and captions itself. Only these: with every program unmanaged, the registrations
# and the first sheet of a fresh prefix failed now and then. A person's own display
# keeps its window manager.
for program in quorvel.exe qvconsole.exe propsheet_sheet_test.exe standins_extension_test.exe; do
  key="HKCU\\Software\\Wine\\AppDefaults\\$program\\X11 Driver"
  if [ -n "${QUORVEL_USE_DISPLAY:-}" ]; then
    wine reg delete "$key" /v Managed /f >/dev/null 2>&1 || true
  else
    wine reg add "$key" /v Managed /d N /f >/dev/null 2>&1
  fi
done
# Keep one server for the whole run; every later process joins it.
setsid wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
# Whether the console's x86 build can run here: the x86 scenarios read this file.
"$(dirname "$0")/wine32.sh" "$dir" >"$dir/wine32" 2>&1 && echo ok >"$dir/wine32"
echo "wine session on display $DISPLAY, prefix $WINEPREFIX"
