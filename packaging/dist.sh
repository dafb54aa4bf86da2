#!/usr/bin/env bash
# dist.sh: the release in build/dist/ from the windows and windows-x86 trees (make dist).
# dist.sh --next: for the upgrade test only, two packages in build/dist-next/ that can
#   never pass for a release: always test-signed, named "upgrade-test", with their own
#   UpgradeCode and ProductCodes (packaging/quorvel.wxs).
#
# The unsigned files go to build/dist/unsigned/ (QUORVEL_DIST_DIR for build/dist): two
# clones of one commit give the same bytes there. The vendor's key (docs/release.md, "Signing"):
#   QUORVEL_SIGN_PFX              a PKCS#12 file, or
#   QUORVEL_SIGN_PKCS11_MODULE    a PKCS#11 module, with QUORVEL_SIGN_PKCS11_KEY (the
#                                 key's pkcs11: URI or id), QUORVEL_SIGN_CERT (the
#                                 certificate chain, PEM) and, where the module needs
#                                 OpenSSL's engine, QUORVEL_SIGN_PKCS11_ENGINE
#   QUORVEL_SIGN_PASSWORD_FILE    the password or PIN, first line; "-" reads it from stdin
#   QUORVEL_SIGN_CAFILE           the CAs that verify the certificate
#   QUORVEL_SIGN_CRLFILE          a CRL to check offline; without it none is checked here
#   QUORVEL_SIGN_TS               a timestamp server's URL (off by default), and
#   QUORVEL_SIGN_TSA_CAFILE       the CAs that verify its countersignatures
# Without a vendor key a throwaway test certificate is made, and every signed file
# says TEST in its name.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$SOURCE_DATE_EPOCH" ] || { echo "not a git clone: set SOURCE_DATE_EPOCH to the sources' time" >&2; exit 1; }
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022
win=build/windows x86=build/windows-x86 dist=${QUORVEL_DIST_DIR:-build/dist}
fail() { echo "$*" >&2; exit 1; }
# Add/Remove Programs' help link.
help_link=${QUORVEL_HELP_LINK:-https://www.tarnwick.com/quorvel}

[ -z "${QUORVEL_SIGN_PASSWORD:-}" ] ||
  fail "QUORVEL_SIGN_PASSWORD is no longer read: it reached every program make runs. Put it in a file" \
       "for QUORVEL_SIGN_PASSWORD_FILE, or pass QUORVEL_SIGN_PASSWORD_FILE=- and type it."
vendor=""
[ "${1:-}" = --next ] || [ -z "${QUORVEL_SIGN_PFX:-}${QUORVEL_SIGN_PKCS11_MODULE:-}" ] || vendor=1
# The secrets stay outside the release folder, readable by us alone, and go at exit.
secrets=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-sign.XXXXXX")
trap 'rm -rf "$secrets"' EXIT
if [ -n "$vendor" ]; then
  # A release carries the last commit's time, so it must be that commit's tree (the
  # token test alone signs a working tree: QUORVEL_DIST_DIRTY_OK).
  [ -n "${QUORVEL_DIST_DIRTY_OK:-}" ] || [ -z "$(git status --porcelain --untracked-files=normal 2>/dev/null)" ] ||
    fail "uncommitted changes: a release is built from a commit (git status)"
  password=""
  if [ "${QUORVEL_SIGN_PASSWORD_FILE:-}" = - ]; then IFS= read -r -s password || true
  elif [ -n "${QUORVEL_SIGN_PASSWORD_FILE:-}" ]; then
    [ -r "$QUORVEL_SIGN_PASSWORD_FILE" ] || fail "QUORVEL_SIGN_PASSWORD_FILE: cannot read $QUORVEL_SIGN_PASSWORD_FILE"
    IFS= read -r password <"$QUORVEL_SIGN_PASSWORD_FILE" || true
  fi
  (umask 077 && printf '%s' "$password" >"$secrets/password")
  unset password
fi

cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
tree_version() {  # the version a tree was built with: its override or the project's
  local v; v=$(cache "$1" QUORVEL_VERSION); echo "${v:-$(cache "$1" CMAKE_PROJECT_VERSION)}"
}

# A GUID that only NAME decides (a name-based UUID).
guid() { python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID("d2076a01-9bb9-4910-9212-c91c6a45325f"), sys.argv[1])).upper())' "$1"; }

# msi EXE VERSION OUT [upgrade-test]: the installer of EXE. The product code is one per
# version, as a major upgrade needs; the package code one per content, so that two
# different packages never share it. The upgrade test's packages are another product
# (their own UpgradeCode and ProductCodes), so that no machine that ever took one is
# barred from the real release of that version.
msi() {
  local exe=$1 version=$2 out=$3 kind=${4:-release} stage; stage=$(mktemp -d)
  local upgrade=D2076A01-9BB9-4910-9212-C91C6A45325F
  [ "$kind" = release ] || upgrade=$(guid "upgrade test")
  # The cabinet keeps each file's time.
  cp "$exe" "$stage/quorvel.exe"; cp packaging/THIRD-PARTY-NOTICES.txt "$win/res/quorvel.ico" "$stage/"
  touch -d "@$SOURCE_DATE_EPOCH" "$stage/quorvel.exe" "$stage/THIRD-PARTY-NOTICES.txt"
  local content; content=$(cat packaging/quorvel.wxs "$stage/quorvel.exe" "$stage/THIRD-PARTY-NOTICES.txt" |
    sha256sum | cut -c1-64)
  local package; package=$(guid "package $kind $version $content")
  local product; product=$(guid "product $version"); [ "$kind" = release ] || product=$(guid "$kind product $version")
  local wxs; wxs=$(realpath packaging/quorvel.wxs); out=$(realpath -m "$out")
  # wixl takes a source file's path only relative to where it runs.
  (cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$product" -D "UpgradeCode=$upgrade" \
    -D "PackageCode=$package" -D Exe=quorvel.exe -D Notices=THIRD-PARTY-NOTICES.txt -D Icon=quorvel.ico \
    -D "HelpLink=$help_link" -o "$out" "$wxs")
  # wixl reads no version resource: without File.Version a later minor upgrade or patch
  # would keep the quorvel.exe on disk. A versioned file has no MsiFileHash row.
  msibuild "$out" -q "UPDATE File SET Version='$version.0', Language='1033' WHERE File='quorvel.exe'" \
    -q "DELETE FROM MsiFileHash WHERE File_='quorvel.exe'"
  python3 packaging/msi-stamp.py "$out" "$SOURCE_DATE_EPOCH" "$package"
  rm -rf "$stage"
}

# The signing key: the vendor's, or a test one made now in $1 (with its CA).
sign_args=() verify_args=() signed_name=TEST
cms_signer="" cms_key="" cms_engine="" cms_trust=()
certificate() {
  local passfile=() leaf=""
  [ -z "${QUORVEL_SIGN_PASSWORD_FILE:-}" ] || passfile=(-readpass "$secrets/password")
  if [ -n "$vendor" ] && [ -n "${QUORVEL_SIGN_PKCS11_MODULE:-}" ]; then
    [ -n "${QUORVEL_SIGN_PKCS11_KEY:-}" ] && [ -f "${QUORVEL_SIGN_CERT:-}" ] ||
      fail "QUORVEL_SIGN_PKCS11_MODULE needs QUORVEL_SIGN_PKCS11_KEY and QUORVEL_SIGN_CERT (a PEM file)"
    sign_args=(-pkcs11module "$QUORVEL_SIGN_PKCS11_MODULE" -key "$QUORVEL_SIGN_PKCS11_KEY"
               -certs "$QUORVEL_SIGN_CERT" "${passfile[@]}")
    [ -z "${QUORVEL_SIGN_PKCS11_ENGINE:-}" ] || sign_args+=(-pkcs11engine "$QUORVEL_SIGN_PKCS11_ENGINE")
    openssl x509 -in "$QUORVEL_SIGN_CERT" -out "$secrets/leaf.pem"
    cms_key=$QUORVEL_SIGN_PKCS11_KEY cms_engine=1
    echo "signing with the token's key $QUORVEL_SIGN_PKCS11_KEY"
  elif [ -n "$vendor" ]; then
    [ -f "$QUORVEL_SIGN_PFX" ] || fail "QUORVEL_SIGN_PFX: no file $QUORVEL_SIGN_PFX"
    sign_args=(-pkcs12 "$QUORVEL_SIGN_PFX" "${passfile[@]}")
    openssl pkcs12 -in "$QUORVEL_SIGN_PFX" -nokeys -clcerts -passin "file:$secrets/password" 2>/dev/null |
      openssl x509 -out "$secrets/leaf.pem" || fail "QUORVEL_SIGN_PFX: cannot read its certificate"
    (umask 077 && openssl pkcs12 -in "$QUORVEL_SIGN_PFX" -nocerts -nodes -passin "file:$secrets/password" \
      -out "$secrets/key.pem" 2>/dev/null) || fail "QUORVEL_SIGN_PFX: cannot read its key"
    cms_key=$secrets/key.pem
    echo "signing with $QUORVEL_SIGN_PFX"
  fi
  if [ -f "$secrets/leaf.pem" ]; then
    # Only this certificate passes, not any that the CAs vouch for.
    leaf=$(openssl x509 -in "$secrets/leaf.pem" -outform DER | sha256sum | cut -c1-64)
    verify_args=(-CAfile "${QUORVEL_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}" -require-leaf-hash "SHA256:$leaf")
    cms_signer=$secrets/leaf.pem cms_trust=(-CAfile "${QUORVEL_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}")
    signed_name=""
  else
    test_certificate "$1"
  fi
  # Revocation is Windows's to check on the target machine: here none is fetched.
  if [ -n "$vendor" ] && [ -n "${QUORVEL_SIGN_CRLFILE:-}" ]; then verify_args+=(-CRLfile "$QUORVEL_SIGN_CRLFILE")
  else verify_args+=(-ignore-crl); fi
  [ -z "$vendor" ] || [ -z "${QUORVEL_SIGN_TS:-}" ] || sign_args+=(-ts "$QUORVEL_SIGN_TS")
  [ -z "$vendor" ] || [ -z "${QUORVEL_SIGN_TSA_CAFILE:-}" ] || verify_args+=(-TSA-CAfile "$QUORVEL_SIGN_TSA_CAFILE")
}
test_certificate() {  # DIR
  local signing=$1 subject="/O=Quorvel release build/OU=TEST ONLY, NOT TRUSTED"
  rm -rf "$signing"; mkdir -p "$signing"; chmod 700 "$signing"
  openssl req -x509 -newkey rsa:3072 -nodes -keyout "$signing/test-ca.key" -out "$signing/test-ca.pem" \
    -days 30 -subj "$subject/CN=Quorvel test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -new -newkey rsa:3072 -nodes -keyout "$signing/test-sign.key" -out "$signing/test-sign.csr" \
    -subj "$subject/CN=Quorvel test signature" 2>/dev/null
  # As every public code-signing certificate, it names a CRL: this one can never be fetched.
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n%s\n' \
    'crlDistributionPoints=URI:http://crl.invalid/quorvel-test.crl' >"$signing/test-sign.ext"
  openssl x509 -req -in "$signing/test-sign.csr" -CA "$signing/test-ca.pem" -CAkey "$signing/test-ca.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 30 -extfile "$signing/test-sign.ext" \
    -out "$signing/test-sign.pem" 2>/dev/null
  rm -f "$signing/test-ca.key" "$signing/test-sign.csr" "$signing/test-sign.ext"
  sign_args=(-certs "$signing/test-sign.pem" -key "$signing/test-sign.key")
  verify_args=(-CAfile "$signing/test-ca.pem")
  cms_signer=$signing/test-sign.pem cms_key=$signing/test-sign.key cms_trust=(-CAfile "$signing/test-ca.pem")
  echo "TEST SIGNATURE: no vendor key given; signed with a throwaway test certificate made for this"
  echo "  build (trusted by nobody; its CA is $signing/test-ca.pem). Their names say so: do not ship these."
}
sign() {  # IN OUT
  osslsigncode sign "${sign_args[@]}" -h sha256 -n Quorvel -time "$SOURCE_DATE_EPOCH" \
    -in "$1" -out "$2" >"$secrets/sign.log" 2>&1 ||
    { cat "$secrets/sign.log" >&2; fail "osslsigncode could not sign $1"; }
  osslsigncode verify "${verify_args[@]}" -in "$2" >"$secrets/verify.log" 2>&1 ||
    { cat "$secrets/verify.log" >&2; fail "the signature of $2 does not verify"; }
}
# sign_sums FILE: FILE.p7s, a detached CMS signature with the signing key. No signed
# attributes (no signing time), so that one key gives the same bytes again.
sign_sums() {
  local key=(-inkey "$cms_key")
  [ -z "$cms_engine" ] || key=(-engine pkcs11 -keyform engine -inkey "$cms_key" -passin "file:$secrets/password")
  openssl cms -sign -binary -noattr -md sha256 -in "$1" -signer "$cms_signer" "${key[@]}" -outform DER \
    -out "$1.p7s" 2>"$secrets/cms.log" || { cat "$secrets/cms.log" >&2; fail "cannot sign $1"; }
  openssl cms -verify -binary -inform DER -in "$1.p7s" -content "$1" -purpose any "${cms_trust[@]}" \
    -out /dev/null 2>"$secrets/cms.log" || { cat "$secrets/cms.log" >&2; fail "the signature of $1 does not verify"; }
}
# NAME-TEST...: the name with -TEST before its extension when test-signed.
named() { local base=$1 ext=$2; echo "$base${signed_name:+-$signed_name}.$ext"; }

if [ "${1:-}" = --next ]; then
  [ -f "$dist/unsigned/bin/quorvel.exe" ] || fail "no $dist/unsigned/bin/quorvel.exe: make dist first"
  version=$(tree_version "$win")
  IFS=. read -r major minor patch <<<"$version"
  next="$major.$minor.$((patch + 1))"
  tree=build/windows-next
  cmake --preset windows -B "$tree" -DQUORVEL_VERSION="$next" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$tree" --target quorvel -j 2 >/dev/null
  out=build/dist-next; rm -rf "$out"; mkdir -p "$out"
  certificate "$out/signing"
  # This version's quorvel.exe and the next one's, each in a package of the test product.
  for pair in "$version:$dist/unsigned/bin/quorvel.exe" "$next:$tree/app/quorvel.exe"; do
    v=${pair%%:*}; mkdir -p "$out/$v"
    sign "${pair#*:}" "$out/$v/quorvel.exe"
    msi "$out/$v/quorvel.exe" "$v" "$out/$v/unsigned.msi" upgrade-test
    sign "$out/$v/unsigned.msi" "$out/quorvel-$v-x64-upgrade-test.msi"
    rm -f "$out/$v/unsigned.msi"
    echo "$out/quorvel-$v-x64-upgrade-test.msi"
  done
  exit 0
fi

for tree in "$win" "$x86"; do
  [ -f "$tree/CMakeCache.txt" ] || { echo "no build in $tree: make windows windows-x86 first" >&2; exit 1; }
done
version=$(tree_version "$win")
[ "$(tree_version "$x86")" = "$version" ] || { echo "$win and $x86 were built with other versions" >&2; exit 1; }
[ -f "$win/app/quorvel.exe" ] || { echo "no $win/app/quorvel.exe" >&2; exit 1; }
rm -rf "$dist"; mkdir -p "$dist/unsigned"
for tree in "$win" "$x86"; do
  [ -f "$tree/client/quorvel_client.dll" ] || { echo "no $tree/client/quorvel_client.dll" >&2; exit 1; }
done

# layout DIR STAGE: the zip's tree from DIR's binaries (quorvel.exe, x86/ and x64/ DLLs).
layout() {
  local bin=$1 top=$2
  mkdir -p "$top/client" "$top/docs"
  cp "$bin/quorvel.exe" packaging/THIRD-PARTY-NOTICES.txt "$top/"
  cp docs/integration.md docs/release.md "$top/docs/"
  mkdir -p "$top/c/x86" "$top/c/x64"
  cp client/quorvel_client_c.h client/quorvel_client.def "$top/c/"
  local arch tree
  for arch in x86 x64; do
    tree=$win; [ "$arch" = x86 ] && tree=$x86
    cmake --install "$tree" --component client --prefix "$top/cmake/$arch" >/dev/null
    # The package carries the DLL of the same build as the C interface beside it.
    cp "$bin/$arch/quorvel_client.dll" "$top/cmake/$arch/bin/"
    cp "$bin/$arch/quorvel_client.dll" "$top/cmake/$arch/lib/libquorvel_client.dll.a" \
      "$top/cmake/$arch/lib/quorvel_client.lib" "$top/c/$arch/"
  done
  cp "$top/cmake/x86/lib/quorvel_client_x86.def" "$top/c/"
  # The sources to compile into a console: the package's own list, so that none is left out.
  cp "$top/cmake/x64/src/"* "$top/client/"
}
# archive TOP ZIP [signed]: every file with the commit's time, in one order, no extra
# fields; a signed zip's SHA256SUMS carries the signing key's signature.
archive() {
  local top=$1 zip parent name
  zip=$(realpath -m "$2"); parent=$(dirname "$top"); name=$(basename "$top")
  (cd "$top" && find . -type f ! -name 'SHA256SUMS*' | sed 's|^\./||' | sort | xargs -d '\n' sha256sum >SHA256SUMS)
  [ -z "${3:-}" ] || sign_sums "$top/SHA256SUMS"
  find "$top" -type f -exec chmod 644 {} + ; find "$top" -type d -exec chmod 755 {} +
  find "$top" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  rm -f "$zip"
  (cd "$parent" && find "$name" -type f | sort | zip -q -X -D -9 "$zip" -@)
}

# The unsigned release.
raw=$dist/unsigned/bin; mkdir -p "$raw/x86" "$raw/x64"
cp "$win/app/quorvel.exe" "$raw/"
cp "$x86/client/quorvel_client.dll" "$raw/x86/"; cp "$win/client/quorvel_client.dll" "$raw/x64/"
stage=$dist/unsigned/stage/quorvel-$version
layout "$raw" "$stage"
msi "$raw/quorvel.exe" "$version" "$dist/unsigned/quorvel-$version-x64.msi"
archive "$stage" "$dist/unsigned/quorvel-$version.zip"

# The signed release: the installer carries the signed quorvel.exe.
certificate "$dist/signing"
signed=$dist/signed; mkdir -p "$signed/x86" "$signed/x64"
for file in quorvel.exe x86/quorvel_client.dll x64/quorvel_client.dll; do
  sign "$raw/$file" "$signed/$file"
done
msi_name=$(named "quorvel-$version-x64" msi) zip_name=$(named "quorvel-$version" zip)
msi "$signed/quorvel.exe" "$version" "$signed/quorvel.msi"
sign "$signed/quorvel.msi" "$dist/$msi_name"
rm "$signed/quorvel.msi"
stage=$dist/stage/quorvel-$version
layout "$signed" "$stage"
archive "$stage" "$dist/$zip_name" signed
rm -rf "$dist/stage" "$dist/signed" "$dist/unsigned/stage"
# The time and the tools that made these bytes: another version of one of them may make others.
{
  echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
  cmake --version | head -1
  echo "wixl $(wixl --version)"
  zip -v | sed -n 2p | sed 's/^ *//'
  for triple in x86_64-w64-mingw32 i686-w64-mingw32; do "$triple-g++-posix" --version | head -1; done
  dpkg-query -W -f '${Package} ${Version}\n' mingw-w64-common 2>/dev/null || true
  "$(cache "$win" CMAKE_DLLTOOL)" --version | head -1
  echo "llvm-dlltool of $(llvm-readobj --version | sed -n 's/^ *\(.*LLVM version.*\)/\1/p' | head -1)"
  osslsigncode --version | head -1
  python3 --version
} >"$dist/TOOLS.txt"
(cd "$dist" && sha256sum "$msi_name" "$zip_name" TOOLS.txt >SHA256SUMS)
sign_sums "$dist/SHA256SUMS"
(cd "$dist/unsigned" && find . -type f ! -path './stage/*' ! -name SHA256SUMS | sed 's|^\./||' | sort |
  xargs -d '\n' sha256sum >SHA256SUMS)
echo "release $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $dist:"
(cd "$dist" && ls -l "$msi_name" "$zip_name" | awk '{print "  " $5 "\t" $9}')
