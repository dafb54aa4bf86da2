#!/usr/bin/env bash
# apt-wine32.sh [-s] [-o APT_OPTION]... PACKAGE...: installs PACKAGEs, wine32:i386 among
# them, in one apt transaction, so that apt chooses every library's amd64 and i386
# builds (its twins, which multiarch needs at one version) together.
#
# First the plain way, with the machine's own preferences: that works whenever both
# architectures' package lists agree. When a list could not be fetched (Debian's i386
# security list failed to download here for days), the suite that lost it offers its
# newer builds for one architecture only, the twins disagree and apt finds nothing
# installable. Only then is the install tried again with that suite preferred below
# the others for every twinned library, on both architectures alike, so that each pair
# comes from one suite. That preference lives in a temporary folder given to that one
# apt command: nothing is written to /etc/apt. Priority 100 never downgrades: a newer
# build already installed stays, and a pair that cannot be matched stays a reason.
#
# -s simulates (apt-get -s) and prints apt's plan; -o options go to every apt command
# (the check in tests/bootstrap gives it other lists and another dpkg status this way).
# Says which way was taken on stderr ("apt-wine32: plain: ..." / "apt-wine32: fallback:
# ..."); on failure prints apt's reason and exits 1.
set -euo pipefail
simulate=(); opts=(); did=installed
while [ $# -gt 0 ]; do
  case $1 in
  -s) simulate=(-s); did=planned; shift ;;
  -o) opts+=(-o "$2"); shift 2 ;;
  *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [-s] [-o APT_OPTION]... PACKAGE..." >&2; exit 2; }
SUDO=
[ "$(id -u)" -eq 0 ] || [ ${#simulate[@]} -gt 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# apt's reason in one line: the first unmet dependencies and errors.
reason() { grep -m3 -E '^ [a-z0-9.+-]+(:[a-z0-9]+)? : |^E: ' "$1" | sed 's/  */ /g' | tr '\n' ';' | sed 's/;$//' || true; }

attempt() {
  local name=$1 log=$tmp/$1.log; shift
  if $SUDO apt-get install -y -q "${simulate[@]}" "${opts[@]}" "$@" >"$log" 2>&1; then
    echo "apt-wine32: $name: $did $*" >&2
    [ ${#simulate[@]} -eq 0 ] || cat "$log"
    return 0
  fi
  echo "apt-wine32: $name: failed: $(reason "$log")" >&2
  return 1
}

attempt plain "$@" && exit 0
# A fault that is not a disagreement (a download, a lock, a full disk) is reported as it is.
if ! grep -qE 'but it is not (installable|going to be installed)|^E: Unable to correct problems|^E: Unmet dependencies' "$tmp/plain.log"; then
  reason "$tmp/plain.log"; exit 1
fi

# The lists folder apt reads, as the options may have moved it.
lists=/var/lib/apt/lists/
eval "$(apt-config "${opts[@]}" shell lists Dir::State::Lists/d)"
# Every library that must be twinned and that the security suite holds a build of.
names=$(for f in "$lists"*security*_binary-*_Packages*; do
  [ -e "$f" ] && /usr/lib/apt/apt-helper cat-file "$f"
done | awk 'BEGIN { RS = "" } /\nMulti-Arch: same/ { match($0, /^Package: [^\n]+/); print substr($0, 10, RLENGTH - 9) ":any" }' |
  sort -u | tr '\n' ' ')
[ -n "$names" ] || { reason "$tmp/plain.log"; exit 1; }
# The machine's own preferences stay in force beside this one.
mkdir "$tmp/preferences.d"
parts=/etc/apt/preferences.d/
eval "$(apt-config "${opts[@]}" shell parts Dir::Etc::PreferencesParts/d)"
for f in "$parts"*; do
  [ -f "$f" ] && cp "$f" "$tmp/preferences.d/"
done
# ":any" matches the name on every architecture; a bare name is the native one only.
printf 'Explanation: quorvel: both builds of a twinned library from one suite\nPackage: %s\nPin: release l=Debian-Security\nPin-Priority: 100\n' \
  "$names" >"$tmp/preferences.d/quorvel-twins.pref"
attempt fallback -o Dir::Etc::PreferencesParts="$tmp/preferences.d" "$@" && exit 0
echo "plain: $(reason "$tmp/plain.log"); with the twins from one suite: $(reason "$tmp/fallback.log")"
exit 1
