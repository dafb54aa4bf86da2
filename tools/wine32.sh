#!/usr/bin/env bash
# wine32.sh: exit 0 when Wine can run the console's x86 build here; otherwise exit 1
# and print why not (the reason tools/bootstrap.sh noted when it tried wine32:i386).
if [ "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" = installed ]; then
  exit 0
fi
note="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/wine32-unavailable"
if [ -s "$note" ]; then
  head -1 "$note"
else
  echo "wine32:i386 is not installed (tools/bootstrap.sh tries it)"
fi
exit 1
