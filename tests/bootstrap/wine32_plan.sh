#!/usr/bin/env bash
# wine32_plan.sh: replays tools/apt-wine32.sh's decision with apt-get -s (nothing is
# installed) in the two states the mirror has been seen in, from the machine as it was
# before wine32:i386 arrived (the bootstrap keeps a copy of dpkg's status then):
#   lists   the package lists as they are;
#   no-i386-security   the same lists without the i386 security list, as when its
#           download failed (a copy of the lists folder, through Dir::State::Lists).
# In each, the chosen command must plan wine32:i386 with every twinned library's amd64
# and i386 builds at one version. Prints which way was taken in each state.
set -euo pipefail
here=$(cd "$(dirname "$0")/../../tools" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
before="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/dpkg-status.before-wine32"
lists=/var/lib/apt/lists/
eval "$(apt-config shell lists Dir::State::Lists/d)"
if ! ls "$lists"*_binary-i386_Packages* >/dev/null 2>&1; then
  echo "wine32_plan: skipped: apt has no i386 lists here (tools/bootstrap.sh adds them)"
  exit 0
fi
if [ -f "$before" ]; then
  cp "$before" "$tmp/status"
else
  # A machine bootstrapped by an earlier version: its i386 side set aside.
  echo "wine32_plan: no copy of dpkg's status from before wine32:i386; replaying without the i386 packages"
  awk 'BEGIN { RS = ""; ORS = "\n\n" } !/\nArchitecture: i386\n/' /var/lib/dpkg/status >"$tmp/status"
fi
mkdir "$tmp/lists" "$tmp/lists-no-i386-security"
cp -p "$lists"*_* "$tmp/lists/"
cp -p "$lists"*_* "$tmp/lists-no-i386-security/"
rm -f "$tmp/lists-no-i386-security/"*security*_binary-i386_Packages*
mkdir "$tmp/lists/partial" "$tmp/lists-no-i386-security/partial"

fail=0
for state in lists no-i386-security; do
  opts=(-o Dir::State::Lists="$tmp/$state/" -o Dir::State::status="$tmp/status"
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o Debug::NoLocking=1)
  [ "$state" = lists ] && opts[1]=Dir::State::Lists="$tmp/lists/"
  [ "$state" = no-i386-security ] && opts[1]=Dir::State::Lists="$tmp/lists-no-i386-security/"
  if ! "$here/apt-wine32.sh" -s "${opts[@]}" wine wine64 wine32:i386 >"$tmp/plan" 2>"$tmp/ways"; then
    echo "FAIL $state: no plan: $(cat "$tmp/ways") $(tail -3 "$tmp/plan" | tr '\n' ' ')"
    fail=1; continue
  fi
  grep -q '^Inst wine32:i386 ' "$tmp/plan" || { echo "FAIL $state: the plan has no wine32:i386"; fail=1; continue; }
  # Every i386 library the plan brings must meet its amd64 twin at the same version,
  # be that twin installed before or brought by the same plan.
  mismatch=$(awk -v status="$tmp/status" '
    BEGIN { RS = ""; FS = "\n"
      while ((getline stanza < status) > 0) {
        n = split(stanza, l, "\n"); p = ""; a = ""; v = ""; ok = 0
        for (i = 1; i <= n; i++) {
          if (l[i] ~ /^Package: /) p = substr(l[i], 10)
          if (l[i] ~ /^Architecture: /) a = substr(l[i], 15)
          if (l[i] ~ /^Version: /) v = substr(l[i], 10)
          if (l[i] ~ /^Status: .* installed$/) ok = 1
        }
        if (ok && a == "amd64") have[p] = v
      }
      RS = "\n"; FS = " " }
    /^Inst / { name = $2; sub(/^\(/, "", $0); match($0, /\(([^ ]+)/); ver = substr($0, RSTART + 1, RLENGTH - 1)
      if (name ~ /:i386$/) { sub(/:i386$/, "", name); want[name] = ver } else { sub(/:amd64$/, "", name); have[name] = ver } }
    END { for (n in want) if ((n in have) && have[n] != want[n]) printf "%s %s/%s ", n, have[n], want[n] }' "$tmp/plan")
  if [ -n "$mismatch" ]; then echo "FAIL $state: twins at different versions: $mismatch"; fail=1; continue; fi
  echo "ok $state: $(grep -o '^apt-wine32: [a-z]*: [a-z]*' "$tmp/ways" | sed 's/^apt-wine32: //' | tr '\n' ';' | sed 's/;$//'); $(grep -c '^Inst ' "$tmp/plan") packages"
  grep ': failed: ' "$tmp/ways" | sed 's/^/   /' || true
done
exit $fail
