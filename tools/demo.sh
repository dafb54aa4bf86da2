#!/usr/bin/env bash
# demo.sh BUILD_DIR: runs quorvel.exe's property sheet job under Wine and prints
# its 32-bit exit status.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
session="$build/demo-wine"
"$here/wine-session.sh" start "$session" >/dev/null
trap '"$here/wine-session.sh" stop "$session"' EXIT
export QUORVEL_WINE_DIR="$session"
. "$here/wine-env.sh"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
path='LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com'
echo "quorvel.exe \"/adproppage:$path\""
status=$(wine "$(winpath "$build/tools/launcher/qvlaunch.exe")" \
  "$(winpath "$build/app/quorvel.exe")" "/adproppage:$path" | tr -d '\r')
echo "exit status: $status"
