#!/usr/bin/env bash
# register-standins.sh SESSION_DIR STANDINS_DIR SERVER [--without CLSID_NAME]...
# Registers the stand-in COM servers built in STANDINS_DIR in the prefix of the
# Wine session in SESSION_DIR (tools/wine-session.sh), and points the LDAP
# provider at SERVER (host:port) for paths that name no server.
# --without provider|pages|wizard leaves that one unregistered (removing an
# earlier registration), so a test can run against a platform that lacks it.
set -euo pipefail
session=${1:?session folder}; standins=$(cd "${2:?stand-ins build folder}" && pwd); server=${3:?host:port}
shift 3
without=" "
while [ $# -gt 0 ]; do
  case "$1" in
  --without) without+="$2 "; shift 2 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
export QUORVEL_WINE_DIR="$session"
. "$here/wine-env.sh"

reg() {
  local out
  out=$(wine reg "$@" /f 2>&1) || { echo "register-standins: wine reg $* failed: $out" >&2; return 1; }
}

server_for() {  # CLSID DLL PROGID-or-empty NAME
  local key="HKLM\\Software\\Classes\\CLSID\\$1"
  reg add "$key" /ve /d "$4"
  reg add "$key\\InprocServer32" /ve /d "$(winpath "$standins/$2")"
  reg add "$key\\InprocServer32" /v ThreadingModel /d Apartment
  if [ -n "$3" ]; then
    reg add "$key\\ProgID" /ve /d "$3"
    reg add "HKLM\\Software\\Classes\\$3\\CLSID" /ve /d "$1"
  fi
}
remove() { wine reg delete "HKLM\\Software\\Classes\\CLSID\\$1" /f >/dev/null 2>&1 || true; }

provider='{6F1C2A4E-93B7-4D25-9C0E-51A7D3B8E402}'
pages='{0D45D530-764B-11D0-A1CA-00AA00C16E65}'   # CLSID_DsPropertyPages
wizard='{E301A009-F901-11D2-82B9-00C04F68928B}'  # CLSID_DsAdminCreateObj

case "$without" in *" provider "*) remove "$provider" ;; *)
  server_for "$provider" quorvel_adsldp.dll Quorvel.LdapNamespace "Quorvel LDAP namespace"
  # ADsGetObject finds the provider of "LDAP:" by this key's default value.
  reg add 'HKLM\Software\Microsoft\ADs\Providers\LDAP' /ve /d Quorvel.LdapNamespace ;;
esac
case "$without" in *" pages "*) remove "$pages" ;; *)
  [ -f "$standins/quorvel_dsprop.dll" ] && server_for "$pages" quorvel_dsprop.dll "" "Quorvel directory property pages" ;;
esac
case "$without" in *" wizard "*) remove "$wizard" ;; *)
  [ -f "$standins/quorvel_dsadmin.dll" ] && server_for "$wizard" quorvel_dsadmin.dll "" "Quorvel creation wizard" ;;
esac
reg add 'HKLM\Software\QuorvelStandins' /v LdapServer /d "$server"
echo "stand-ins registered in $WINEPREFIX, directory at $server"
