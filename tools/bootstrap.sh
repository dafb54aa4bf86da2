#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Quick when
# everything is there already: it only asks dpkg.
set -euo pipefail
packages=(
  cmake make g++ python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth xdotool imagemagick
  googletest libgmock-dev libgtest-dev libbenchmark-dev
  clang clang-tidy libclang-rt-14-dev
  slapd ldap-utils
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "bootstrap: installing ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# slapd must not ask for an administrator password; our directory is set up by the tests.
echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
