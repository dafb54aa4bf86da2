#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, and makes Wine
# run 32-bit programs (the console's own bitness). Quick when everything is there
# already: it only asks dpkg and looks at binfmt_misc.
set -euo pipefail
packages=(
  cmake make g++ python3
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb xauth xdotool imagemagick
  googletest libgmock-dev libgtest-dev libbenchmark-dev
  clang clang-tidy libclang-rt-14-dev
  slapd ldap-utils
  wixl msitools osslsigncode openssl zip git
  qemu-user-static
  softhsm2 libengine-pkcs11-openssl opensc lld llvm
)
installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]; }
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
here=$(cd "$(dirname "$0")" && pwd)
note="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/wine32-unavailable"
before="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/dpkg-status.before-wine32"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
unavailable() {
  mkdir -p "$(dirname "$note")"
  printf '%s\n' "$1" >"$note"
  echo "bootstrap: $1; the x86 runs are skipped" >&2
  # CI must not land green with the x86 console's runs never made.
  if [ -n "${QUORVEL_REQUIRE_X86:-}" ]; then
    echo "bootstrap: QUORVEL_REQUIRE_X86 is set: the x86 runs may not be skipped" >&2
    exit 1
  fi
}

# Earlier versions left a pin here that kept security updates of every twinned
# library from being chosen on the whole machine; the fallback no longer needs a file.
if [ -e /etc/apt/preferences.d/quorvel-multiarch ]; then
  $SUDO rm -f /etc/apt/preferences.d/quorvel-multiarch
  echo "bootstrap: removed /etc/apt/preferences.d/quorvel-multiarch, left by an earlier version"
fi

# The kernel here runs no i386 ELF program, so Wine's 32-bit loader runs under QEMU's
# user-mode emulator, registered for i386 ELF with F (the kernel opens the emulator
# at registration, so it works in any mount namespace). Registration does not
# survive a reboot and costs nothing to check, so it is checked every time. It must
# come before wine32:i386: once that is installed, Debian's wine starts every
# program through the 32-bit loader.
binfmt=/proc/sys/fs/binfmt_misc
register_emulator() {
  [ -x /usr/bin/qemu-i386-static ] || return 1
  [ -e "$binfmt/qemu-i386" ] && return 0
  if [ ! -e "$binfmt/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>>"$log" || return 1
  fi
  # magic: ELF, 32-bit, little-endian, version 1, executable or shared object, machine 3 (i386)
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee "$binfmt/register" >/dev/null 2>>"$log" || return 1
  [ -e "$binfmt/qemu-i386" ]
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && installed wine32:i386; then
  if register_emulator; then
    rm -f "$note"
  else
    unavailable "the i386 emulator could not be registered with binfmt_misc: $(tail -1 "$log")"
  fi
  exit 0
fi
# A failed attempt at wine32:i386 is not repeated for a day, so that every make does
# not wait for the update again; tools/wine32.sh gives its reason.
# Not under QUORVEL_REQUIRE_X86, which must try again.
if [ ${#missing[@]} -eq 0 ] && [ -z "${QUORVEL_REQUIRE_X86:-}" ] &&
  [ -n "$(find "$note" -mmin -1440 2>/dev/null)" ]; then
  exit 0
fi

# The emulator first, alone, so that it is registered before any i386 package
# arrives (their maintainer scripts run i386 programs).
if ! installed qemu-user-static; then
  $SUDO apt-get update -qq >"$log" 2>&1 || cat "$log" >&2
  $SUDO apt-get install -y -qq qemu-user-static >/dev/null
fi
want_wine32=
if installed wine32:i386; then
  register_emulator || unavailable "the i386 emulator could not be registered with binfmt_misc: $(tail -1 "$log")"
elif register_emulator; then
  want_wine32=1
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
else
  unavailable "the i386 emulator could not be registered with binfmt_misc ($(id -un), $(tail -1 "$log" 2>/dev/null))"
fi

# A list that fails to download makes the update exit non-zero; the packages come
# from the lists it did get (tools/apt-wine32.sh copes with a missing one).
$SUDO apt-get update -qq >"$log" 2>&1 || cat "$log" >&2

echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
if [ -n "$want_wine32" ]; then
  echo "bootstrap: installing ${missing[*]} wine32:i386"
  # The machine as it was, for the check that replays this decision (tests/bootstrap).
  [ -e "$before" ] || { mkdir -p "$(dirname "$before")"; cp /var/lib/dpkg/status "$before"; }
  if reason=$("$here/apt-wine32.sh" "${missing[@]}" wine32:i386); then
    rm -f "$note"
    exit 0
  fi
  unavailable "wine32:i386 is not installable: $reason"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
