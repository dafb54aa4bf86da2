#!/usr/bin/env bash
# wow64_check.sh CHECKER.exe QUORVEL.exe: the x86 checker in the build tree's session,
# with quorvel.exe placed in the 64-bit System32 (and nowhere in SysWOW64), where a
# 32-bit process's "C:\windows\system32" does not lead.
set -uo pipefail
checker=$1; helper=$2
here=$(cd "$(dirname "$0")" && pwd)
state=$(cat "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)
[ "$state" = ok ] || { echo "skipped wow64_check: ${state:-the session did not say whether 32-bit programs run}"; exit 77; }
[ -f "$checker" ] || { echo "wow64_check: no $checker (make windows-x86)"; exit 1; }
. "$here/../../tools/wine-env.sh" || exit 1
placed="$WINEPREFIX/drive_c/windows/system32/quorvel.exe"
[ ! -e "$WINEPREFIX/drive_c/windows/syswow64/quorvel.exe" ] || { echo "wow64_check: quorvel.exe in syswow64"; exit 1; }
cp "$helper" "$placed" && trap 'rm -f "$placed"' EXIT
QUORVEL_TEST_TIMEOUT=120 "$here/../../tools/wine-run.sh" "$checker" 'OU=Nowhere,DC=example,DC=com'
