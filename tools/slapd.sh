#!/usr/bin/env bash
# slapd.sh start DIR [PORT] | stop DIR | url DIR
# A private OpenLDAP server for the tests and the demo: configuration, database,
# pid file and log all live in DIR, it listens on the loopback interface only,
# and every start begins from the seed data. Nothing outside DIR is touched.
# "start" prints the server as host:port and keeps it in DIR/server.
set -euo pipefail
cmd=${1:?start, stop or url}; dir=${2:?folder for the server}
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../standins/slapd"
mkdir -p "$dir"; dir=$(cd "$dir" && pwd)

stop() {
  [ -f "$dir/slapd.pid" ] || return 0
  local pid; pid=$(cat "$dir/slapd.pid")
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/slapd.pid"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

case "$cmd" in
stop) stop; exit 0 ;;
url) cat "$dir/server"; exit 0 ;;
start) ;;
*) echo "usage: $0 start DIR [PORT] | stop DIR | url DIR" >&2; exit 2 ;;
esac

stop
port=${3:-$(free_port)}
rm -rf "$dir/db"; mkdir -p "$dir/db"
cat >"$dir/slapd.conf" <<CONF
include     $data/quorvel.schema
pidfile     $dir/slapd.pid
argsfile    $dir/slapd.args
modulepath  /usr/lib/ldap
moduleload  back_mdb
# The provider binds without credentials, as a logged-on console user would.
allow       bind_v2 update_anon
database    mdb
suffix      "DC=example,DC=com"
rootdn      "CN=admin,DC=example,DC=com"
rootpw      secret
directory   $dir/db
maxsize     16777216
access to * by * write
CONF
slapadd -q -f "$dir/slapd.conf" -l "$data/seed.ldif" >"$dir/slapadd.log" 2>&1 ||
  { cat "$dir/slapadd.log" >&2; exit 1; }
slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/" -s 0 >"$dir/slapd.log" 2>&1 ||
  { cat "$dir/slapd.log" >&2; exit 1; }
for _ in $(seq 100); do
  if ldapsearch -x -LLL -H "ldap://127.0.0.1:$port" -b "DC=example,DC=com" -s base dn >/dev/null 2>&1; then
    echo "127.0.0.1:$port" >"$dir/server"
    echo "127.0.0.1:$port"
    exit 0
  fi
  sleep 0.1
done
echo "slapd did not answer on port $port" >&2
cat "$dir/slapd.log" >&2
stop
exit 1
