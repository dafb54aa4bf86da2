#!/usr/bin/env bash
# install_e2e.sh BUILD_DIR SLAPD_DIR DIST_DIR NEXT_DIR: the release as an administrator
# and a console meet it. The checksums and their signatures, notices and tables are
# checked (the release's Authenticode signatures are token_dist.sh's), the MSI is
# installed silently into the test prefix, a console finds the installed helper on its
# own, and uninstalling leaves nothing of ours behind. Then the upgrade test's
# pair (NEXT_DIR, a product of its own): the newer replaces the older, never the reverse.
set -uo pipefail
build=$1; slapd_dir=$2; dist=$3; next_dir=$4
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$tools/wine-env.sh" || exit 1
shots="$build/test-artifacts/e2e"; mkdir -p "$shots"
server=$(cat "$slapd_dir/server")
staff='OU=Staff,DC=example,DC=com'
failures=0; passed=0; problem=""
report() {  # NAME: ok or FAILED with what went wrong
  if [ -n "$problem" ]; then echo "FAILED $1: ${problem#; }"; failures=$((failures + 1))
  else echo "ok $1"; passed=$((passed + 1)); fi
  problem=""
}

msi=$(ls "$dist"/quorvel-*-x64.msi "$dist"/quorvel-*-x64-TEST.msi 2>/dev/null | head -1)
zip=$(ls "$dist"/quorvel-*.zip 2>/dev/null | head -1)
base=$(ls "$next_dir"/quorvel-*-x64-upgrade-test.msi 2>/dev/null | sort -V | head -1)
newer=$(ls "$next_dir"/quorvel-*-x64-upgrade-test.msi 2>/dev/null | sort -V | tail -1)
if [ -z "$msi" ] || [ -z "$zip" ] || [ "$base" = "$newer" ]; then
  echo "FAILED: no release in $dist or no upgrade test packages in $next_dir (make dist dist-next)"; exit 1
fi
version=${msi##*/quorvel-}; version=${version%-x64*.msi}
# Only the signing certificate passes: a test-signed release's own, made with it; a
# vendor's (QUORVEL_SIGN_CERT) otherwise.
ca_file=$dist/signing/test-ca.pem leaf_cert=$dist/signing/test-sign.pem
if [[ "$msi" != *-TEST.msi ]]; then
  [ -f "${QUORVEL_SIGN_CERT:-}" ] || { echo "FAILED: a vendor-signed release: QUORVEL_SIGN_CERT names its certificate"; exit 1; }
  ca_file=${QUORVEL_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt} leaf_cert=$QUORVEL_SIGN_CERT
fi
leaf=$(openssl x509 -in "$leaf_cert" -outform DER | sha256sum | cut -c1-64)
test_trust=(-ignore-crl -CAfile "$next_dir/signing/test-ca.pem")
unpacked=$(mktemp -d); trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
top="$unpacked/quorvel-$version"

# --- what an administrator checks before deploying ---
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || problem="$problem; the release's SHA256SUMS do not match"
if (cd "$top" && sha256sum --quiet -c SHA256SUMS); then
  listed=$(cut -c67- "$top/SHA256SUMS" | sort)
  present=$(cd "$top" && find . -type f ! -name 'SHA256SUMS*' | sed 's|^\./||' | sort)
  [ "$listed" = "$present" ] || problem="$problem; SHA256SUMS does not list exactly the zip's files"
else problem="$problem; the zip's SHA256SUMS do not match"; fi
# Both lists signed with the release's key, as a vendor checks them (docs/release.md).
for sums in "$dist/SHA256SUMS" "$top/SHA256SUMS"; do
  if openssl cms -verify -binary -inform DER -in "$sums.p7s" -content "$sums" -purpose any -CAfile "$ca_file" \
       -signer "$unpacked/signer.pem" -out /dev/null 2>/dev/null; then
    [ "$(openssl x509 -in "$unpacked/signer.pem" -outform DER | sha256sum | cut -c1-64)" = "$leaf" ] ||
      problem="$problem; ${sums#"$unpacked/"}.p7s is signed by another certificate"
  else problem="$problem; ${sums#"$unpacked/"}.p7s does not verify"; fi
done
for file in quorvel.exe THIRD-PARTY-NOTICES.txt client/quorvel_client.h client/quorvel_client_win.cpp client/locate_rules.cpp \
            client/quorvel_locate_win.cpp docs/integration.md docs/release.md; do
  [ -f "$top/$file" ] || problem="$problem; no $file in the zip"
done
report checksums

for file in c/quorvel_client_c.h c/quorvel_client.def c/quorvel_client_x86.def \
            c/{x86,x64}/{quorvel_client.dll,libquorvel_client.dll.a,quorvel_client.lib} \
            cmake/x86/lib/cmake/quorvel_client/quorvel_client-config.cmake \
            cmake/x64/lib/cmake/quorvel_client/quorvel_client-config.cmake; do
  [ -f "$top/$file" ] || problem="$problem; no $file in the zip"
done
report c-interface-in-zip
# Offline: the test certificate names a CRL that can never be fetched.
for file in "$base" "$newer"; do
  osslsigncode verify "${test_trust[@]}" -in "$file" >"$unpacked/verify" 2>&1 ||
    problem="$problem; ${file##*/}: $(grep -i -m1 -E 'fail|error' "$unpacked/verify")"
done
# A test signature never carries a release's name.
[[ "$msi" != *-TEST.msi ]] || [ -z "$(ls "$dist"/quorvel-*-x64.msi "$dist"/quorvel-"$version".zip 2>/dev/null)" ] ||
  problem="$problem; release-named files beside a test signature"
report "test signatures"

# The notices the statically linked runtimes require travel in every package.
notices() {  # FILE: says which notice is missing
  local name
  for name in winpthreads 'MinGW-w64 runtime' 'GCC Runtime Library Exception' libstdc++; do
    grep -q "$name" "$1" || echo "$name"
  done
}
[ -z "$(notices "$top/THIRD-PARTY-NOTICES.txt")" ] || problem="$problem; the zip's notices lack $(notices "$top/THIRD-PARTY-NOTICES.txt")"
for package in "$msi" "$base" "$newer"; do
  msiinfo export "$package" File 2>/dev/null | grep -q 'THIRD-PARTY-NOTICES.txt' ||
    problem="$problem; no THIRD-PARTY-NOTICES.txt in ${package##*/}"
done
report notices

# The tables wixl leaves short: quorvel.exe's version (else a minor upgrade keeps the
# old file) and Add/Remove Programs' icon and link.
table() { (cd "$unpacked" && msiinfo export "$msi" "$1" 2>/dev/null) | tr -d '\r' | awk -F'\t' -v key="$2" '$1 == key'; }
[ "$(table File quorvel.exe | cut -f5,6)" = "$version.0	1033" ] ||
  problem="$problem; quorvel.exe's File row: $(table File quorvel.exe)"
[ -z "$(table MsiFileHash quorvel.exe)" ] || problem="$problem; a versioned quorvel.exe keeps its MsiFileHash row"
[ "$(table Property ARPPRODUCTICON | cut -f2)" = quorvel.ico ] && [ -n "$(table Icon quorvel.ico)" ] ||
  problem="$problem; no product icon for Add/Remove Programs"
[ -n "$(table Property ARPHELPLINK | cut -f2)" ] || problem="$problem; no help link for Add/Remove Programs"
report tables

# --- install, upgrade, uninstall ---
programs="$WINEPREFIX/drive_c/Program Files"
key='HKLM\SOFTWARE\Quorvel'
msiexec() {  # ARGS...: msiexec's own exit status
  local status; wine msiexec "$@" /qn </dev/null >/dev/null 2>&1; status=$?
  wineserver -w 2>/dev/null; return $status
}
has_key() { wine reg query "$key" "/reg:$1" >/dev/null 2>&1; }  # VIEW
install_dir() { wine reg query "$key" /v InstallDir /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
products() {  # DisplayName|DisplayVersion of every installed product named Quorvel
  local export_file; export_file=$(mktemp)
  wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$(winpath "$export_file")" /reg:64 /y \
    >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$export_file" 2>/dev/null | tr -d '\r' |
    awk -F'"' '/^\[/ {name=""; ver=""} /^"DisplayName"=/ {name=$4} /^"DisplayVersion"=/ {ver=$4}
               /^$/ && name == "Quorvel" {print name "|" ver; name=""}'
  rm -f "$export_file"
}
# A run before that stopped half way, or another script's record, must not count here.
msiexec /x "$(winpath "$newer")"; msiexec /x "$(winpath "$base")"; msiexec /x "$(winpath "$msi")"
wine reg delete "$key" /f /reg:64 >/dev/null 2>&1

started=$SECONDS
msiexec /i "$(winpath "$msi")" || problem="$problem; msiexec /i ended with $?"
cmp -s "$programs/Quorvel/quorvel.exe" "$top/quorvel.exe" || problem="$problem; no quorvel.exe of $version in Program Files"
[ "$(install_dir)" = 'C:\Program Files\Quorvel\' ] || problem="$problem; InstallDir in the 64-bit view: \"$(install_dir)\""
! has_key 32 || problem="$problem; the record landed in the 32-bit view"
[ "$(products)" = "Quorvel|$version" ] || problem="$problem; installed products: $(products | tr '\n' ' ')"
cmp -s "$programs/Quorvel/THIRD-PARTY-NOTICES.txt" "$top/THIRD-PARTY-NOTICES.txt" ||
  problem="$problem; no THIRD-PARTY-NOTICES.txt beside quorvel.exe"
report "install $version ($((SECONDS - started)) s)"

# --- a console finds the installed helper through the client ---
# The session's own verdict on 32-bit programs, as the other scripts read it.
consoles_bits=x64; x86_state=$(cat "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)
if [ "$x86_state" = ok ]; then consoles_bits="x86 x64"
else echo "skipped x86 locate: ${x86_state:-the session did not say whether 32-bit programs run}"; fi
for bits in $consoles_bits; do
  tree=$build; [ "$bits" = x86 ] && tree=${QUORVEL_X86_TREE:?}
  got=$(timeout 90 wine "$(winpath "$tree/tests/client/qvcapi_driver.exe")" \
          --dll "$(winpath "$top/c/$bits/quorvel_client.dll")" locate 2>/dev/null | tr -d '\r')
  grep -qxF 'helper: C:\Program Files\Quorvel\quorvel.exe' <<<"$got" ||
    problem="$problem; $bits locate said: $(tr '\n' '|' <<<"$got")"
done
report located

exe="$build/samples/console/qvconsole.exe"; bits=x64
case $consoles_bits in x86*) exe="$QUORVEL_X86_TREE/samples/console/qvconsole.exe"; bits=x86 ;; esac
log=$(mktemp)
# No /quorvel: switch: the console finds quorvel.exe where the MSI put it.
timeout 120 wine "$(winpath "$exe")" "/log:$(winpath "$log")" >/dev/null 2>&1 & pid=$!
if win=$(timeout 40 xdotool search --sync --name '^Sample console' 2>/dev/null | head -1) && [ -n "$win" ]; then
  opened=""
  for _ in 1 2 3; do  # a key can come before the focus
    xdotool windowfocus --sync "$win" 2>/dev/null; xdotool key alt+p
    for _ in $(seq 25); do grep -q '^Properties of Sales Team: open' "$log" && { opened=1; break 2; }; sleep 0.2; done
  done
  if [ -n "$opened" ] && sheet=$(timeout 60 xdotool search --sync --name '^SALES TEAM - Properties$' 2>/dev/null | head -1); then
    sleep 1; import -window root "$shots/install-console-sheet.png" 2>/dev/null
    xdotool windowfocus --sync "$sheet" 2>/dev/null; xdotool key Escape
    for _ in $(seq 50); do grep -qxF 'Properties of Sales Team: closed, nothing changed.' "$log" && break; sleep 0.2; done
    grep -qxF 'Properties of Sales Team: closed, nothing changed.' "$log" ||
      problem="$problem; status lines: $(tr '\n' '|' <"$log")"
  else problem="$problem; no sheet (status lines: $(tr '\n' '|' <"$log"))"; fi
  xdotool windowfocus --sync "$win" 2>/dev/null; xdotool key alt+F4
else problem="$problem; no console window"; fi
wait "$pid" || problem="$problem; the console did not close"
rm -f "$log"
report "console-sheet-$bits"

tree=$build; bits=x64
case $consoles_bits in x86*) tree=$QUORVEL_X86_TREE; bits=x86 ;; esac
out=$(mktemp)
# No --helper: the DLL locates the installed quorvel.exe.
timeout 90 wine "$(winpath "$tree/tests/client/qvcapi_driver.exe")" --dll "$(winpath "$top/c/$bits/quorvel_client.dll")" \
  wizard "$staff" 0 >"$out" 2>/dev/null & pid=$!
if win=$(timeout 40 xdotool search --sync --name '^New Object - user$' 2>/dev/null | head -1) && [ -n "$win" ]; then
  sleep 0.5; xdotool windowfocus --sync "$win" 2>/dev/null
  xdotool type --delay 20 "Inst User"; xdotool key Tab; xdotool type --delay 20 instuser
  sleep 0.3; import -window root "$shots/install-c-wizard.png" 2>/dev/null; xdotool key Return
else problem="$problem; no wizard"; fi
wait "$pid"
got=$(tr -d '\r' <"$out"); rm -f "$out"
grep -qx 'outcome: Created 0x00000000' <<<"$got" || problem="$problem; driver said: $(tr '\n' '|' <<<"$got")"
grep -qxF "names: CN=Inst User,$staff|Inst User|instuser" <<<"$got" || problem="$problem; $(grep '^names' <<<"$got")"
ldapsearch -x -LLL -H "ldap://$server" -b "CN=Inst User,$staff" -s base sAMAccountName 2>/dev/null |
  grep -qx 'sAMAccountName: instuser' || problem="$problem; Inst User is not in slapd"
report "c-wizard-$bits"

# --- uninstall: nothing of ours stays ---
uninstall() {  # MSI: removes it and reports what stayed
  local started=$SECONDS folder
  msiexec /x "$(winpath "$1")" || problem="$problem; msiexec /x ended with $?"
  for folder in "$programs/Quorvel" "$WINEPREFIX/drive_c/Program Files (x86)/Quorvel"; do
    [ ! -e "$folder" ] || problem="$problem; left: ${folder#"$WINEPREFIX/"} ($(ls "$folder" | tr '\n' ' '))"
  done
  ! has_key 64 || problem="$problem; $key left: $(wine reg query "$key" /s /reg:64 2>/dev/null | tr -d '\r' | tr '\n' '|')"
  ! has_key 32 || problem="$problem; $key left in the 32-bit view"
  [ -z "$(products)" ] || problem="$problem; still installed: $(products | tr '\n' ' ')"
  report "uninstall ${1##*/} ($((SECONDS - started)) s)"
}
uninstall "$msi"

# --- the upgrade, between the test product's two packages ---
newer_version=${newer##*/quorvel-}; newer_version=${newer_version%-x64-upgrade-test.msi}
msiexec /i "$(winpath "$base")" || problem="$problem; msiexec /i ${base##*/} ended with $?"
started=$SECONDS
msiexec /i "$(winpath "$newer")" || problem="$problem; msiexec /i ended with $?"
cmp -s "$programs/Quorvel/quorvel.exe" "$next_dir/$newer_version/quorvel.exe" || problem="$problem; quorvel.exe is not $newer_version's"
[ "$(install_dir)" = 'C:\Program Files\Quorvel\' ] || problem="$problem; InstallDir now \"$(install_dir)\""
[ "$(products)" = "Quorvel|$newer_version" ] || problem="$problem; installed products: $(products | tr '\n' ' ')"
report "upgrade to $newer_version ($((SECONDS - started)) s)"
# ... and the older package is refused over it.
msiexec /i "$(winpath "$base")" && problem="$problem; $version installed over $newer_version"
cmp -s "$programs/Quorvel/quorvel.exe" "$next_dir/$newer_version/quorvel.exe" || problem="$problem; quorvel.exe was replaced"
[ "$(products)" = "Quorvel|$newer_version" ] || problem="$problem; installed products: $(products | tr '\n' ' ')"
report "no downgrade to $version"
uninstall "$newer"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
