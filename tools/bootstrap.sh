#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Quick when
# everything is there already: it only asks dpkg.
set -euo pipefail
packages=(
  cmake make g++ python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb xauth xdotool imagemagick
  googletest libgmock-dev libgtest-dev libbenchmark-dev
  clang clang-tidy libclang-rt-14-dev
  slapd ldap-utils
)
installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# 32-bit Wine runs the console's x86 build. It is optional: Debian's i386 lists
# may be unavailable, or hold older libraries than the amd64 ones installed from
# the security list (multiarch needs equal versions). A failed attempt is noted
# with its reason (tools/wine32.sh reads it) and not repeated for a day, so that
# every make does not wait for the slow update again.
wine32_note="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/wine32-unavailable"
try_wine32=
if installed wine32:i386; then
  rm -f "$wine32_note"
elif [ -z "$(find "$wine32_note" -mmin -1440 2>/dev/null)" ]; then
  try_wine32=1
fi
if [ ${#missing[@]} -eq 0 ] && [ -z "$try_wine32" ]; then
  exit 0
fi
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ -n "$try_wine32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# With i386 added, a list that fails to download makes the whole update exit
# non-zero; the packages come from the lists it did get.
update_log=$(mktemp)
trap 'rm -f "$update_log" "$update_log.install"' EXIT
$SUDO apt-get update -qq >"$update_log" 2>&1 || cat "$update_log" >&2
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  # slapd must not ask for an administrator password; our directory is set up by the tests.
  echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ -n "$try_wine32" ]; then
  echo "bootstrap: trying the optional 32-bit Wine (wine32:i386)"
  # --no-remove: never take wine64 or any other package away to make room.
  if $SUDO apt-get install -y -q --no-remove wine32:i386 >"$update_log.install" 2>&1; then
    rm -f "$wine32_note"
    echo "bootstrap: wine32:i386 installed"
  else
    # Name the libraries whose amd64 and i386 versions differ: multiarch needs them equal.
    differ=$(n=0; grep -oE '[a-z0-9.+-]+:i386' "$update_log.install" | sort -u | while read -r lib; do
      amd64=$(dpkg-query -W -f='${Version}' "${lib%:i386}:amd64" 2>/dev/null || true)
      [ -n "$amd64" ] || continue
      i386=$(apt-cache policy "$lib" | awk '/Candidate:/ {print $2}')
      [ "$amd64" != "$i386" ] || continue
      printf '%s %s (amd64) vs %s (i386); ' "${lib%:i386}" "$amd64" "$i386"
      n=$((n + 1)); [ $n -lt 3 ] || break
    done || true)
    fetch=$(grep -m1 -E '^[EW]:.*i386' "$update_log" | sed 's/  */ /g' || true)
    reason="wine32:i386 is not installable${differ:+: versions differ, ${differ%; }}${fetch:+; apt-get update: $fetch}"
    mkdir -p "$(dirname "$wine32_note")"
    printf '%s\n' "$reason" >"$wine32_note"
    echo "bootstrap: $reason" >&2
    echo "bootstrap: the 32-bit runs are skipped and the x86-64 console runs instead" >&2
  fi
fi
