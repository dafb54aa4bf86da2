#!/usr/bin/env bash
# wine32.sh [SESSION_DIR]: exit 0 when Wine runs 32-bit programs here; otherwise exit 1
# and print why not. With the folder of a running Wine session (wine-session.sh), a
# 32-bit cmd.exe must run in its prefix under WoW64; without it, Wine's 32-bit
# loader must start under the emulator.
here=$(cd "$(dirname "$0")" && pwd)
note="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/wine32-unavailable"
if [ "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" != installed ]; then
  if [ -s "$note" ]; then head -1 "$note"; else echo "wine32:i386 is not installed (tools/bootstrap.sh installs it)"; fi
  exit 1
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  echo "no emulator is registered for i386 programs (tools/bootstrap.sh registers it)"
  exit 1
fi
. "$here/wine-common.sh"
if [ -z "${1:-}" ]; then
  out=$(/usr/lib/wine/wine --version 2>&1) || { echo "Wine's 32-bit loader does not start: $out"; exit 1; }
  exit 0
fi
QUORVEL_WINE_DIR=$1
. "$here/wine-env.sh" || exit 1
# A 32-bit process sees its own architecture as x86 and the machine's in PROCESSOR_ARCHITEW6432.
out=$(timeout 120 wine 'C:\windows\syswow64\cmd.exe' /c 'echo %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%' 2>&1 </dev/null | tr -d '\r')
if [ "$out" != "x86 AMD64" ]; then
  echo "a 32-bit program did not run under WoW64 in $WINEPREFIX: ${out:-no output}"
  exit 1
fi
