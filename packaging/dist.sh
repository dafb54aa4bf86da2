#!/usr/bin/env bash
# dist.sh: the release in build/dist/ from the windows and windows-x86 trees (make dist).
# dist.sh --next: for the upgrade test only, a package one patch version newer in
#   build/dist-next/, from a tree of its own, signed with build/dist's certificate.
#
# The unsigned files go to build/dist/unsigned/: two clones of one commit give the
# same bytes there. QUORVEL_SIGN_PFX and QUORVEL_SIGN_PASSWORD name the vendor's
# certificate (QUORVEL_SIGN_CAFILE the CAs that verify it); without them a test
# certificate is made for this build alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -n "$SOURCE_DATE_EPOCH" ] || { echo "not a git clone: set SOURCE_DATE_EPOCH to the sources' time" >&2; exit 1; }
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022
win=build/windows x86=build/windows-x86 dist=build/dist

cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
tree_version() {  # the version a tree was built with: its override or the project's
  local v; v=$(cache "$1" QUORVEL_VERSION); echo "${v:-$(cache "$1" CMAKE_PROJECT_VERSION)}"
}

# A GUID that only NAME decides (a name-based UUID).
guid() { python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID("d2076a01-9bb9-4910-9212-c91c6a45325f"), sys.argv[1])).upper())' "$1"; }

# msi EXE VERSION OUT: the installer of EXE. The product code is one per version, as a
# major upgrade needs; the package code one per content, so that two different
# packages never share it.
msi() {
  local exe=$1 version=$2 out=$3 stage; stage=$(mktemp -d)
  # The cabinet keeps each file's time.
  cp "$exe" "$stage/quorvel.exe"; touch -d "@$SOURCE_DATE_EPOCH" "$stage/quorvel.exe"
  local content; content=$(cat packaging/quorvel.wxs "$stage/quorvel.exe" | sha256sum | cut -c1-64)
  local package; package=$(guid "package $version $content")
  local wxs; wxs=$(realpath packaging/quorvel.wxs); out=$(realpath -m "$out")
  # wixl takes a source file's path only relative to where it runs.
  (cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$(guid "product $version")" \
    -D "PackageCode=$package" -D Exe=quorvel.exe -o "$out" "$wxs")
  python3 packaging/msi-stamp.py "$out" "$SOURCE_DATE_EPOCH" "$package"
  rm -rf "$stage"
}

# The signing certificate: the vendor's, or a test one made now.
signing=$dist/signing
sign_args=() ca_file=""
certificate() {
  if [ -n "${QUORVEL_SIGN_PFX:-}" ]; then
    [ -f "$QUORVEL_SIGN_PFX" ] || { echo "QUORVEL_SIGN_PFX: no file $QUORVEL_SIGN_PFX" >&2; exit 1; }
    mkdir -p "$signing"; chmod 700 "$signing"
    # The password goes through a file, never on a command line.
    (umask 077 && printf '%s' "${QUORVEL_SIGN_PASSWORD:-}" >"$signing/password")
    trap 'rm -f "$signing/password"' EXIT
    sign_args=(-pkcs12 "$QUORVEL_SIGN_PFX" -readpass "$signing/password")
    ca_file=${QUORVEL_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
    echo "signing with $QUORVEL_SIGN_PFX"
    return
  fi
  if [ "${1:-}" != reuse ] || [ ! -f "$signing/test-ca.pem" ]; then
    rm -rf "$signing"; mkdir -p "$signing"; chmod 700 "$signing"
    local subject="/O=Quorvel release build/OU=TEST ONLY, NOT TRUSTED"
    openssl req -x509 -newkey rsa:3072 -nodes -keyout "$signing/test-ca.key" -out "$signing/test-ca.pem" \
      -days 30 -subj "$subject/CN=Quorvel test CA" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -new -newkey rsa:3072 -nodes -keyout "$signing/test-sign.key" -out "$signing/test-sign.csr" \
      -subj "$subject/CN=Quorvel test signature" 2>/dev/null
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
      >"$signing/test-sign.ext"
    openssl x509 -req -in "$signing/test-sign.csr" -CA "$signing/test-ca.pem" -CAkey "$signing/test-ca.key" \
      -set_serial "0x$(openssl rand -hex 8)" -days 30 -extfile "$signing/test-sign.ext" \
      -out "$signing/test-sign.pem" 2>/dev/null
    rm -f "$signing/test-ca.key" "$signing/test-sign.csr"
  fi
  sign_args=(-certs "$signing/test-sign.pem" -key "$signing/test-sign.key")
  ca_file=$signing/test-ca.pem
  echo "TEST SIGNATURE: no QUORVEL_SIGN_PFX given; signed with a throwaway test certificate made for this"
  echo "  build (trusted by nobody; its CA is $ca_file). Do not ship these files."
}
sign() {  # IN OUT
  osslsigncode sign "${sign_args[@]}" -h sha256 -n Quorvel -time "$SOURCE_DATE_EPOCH" \
    -in "$1" -out "$2" >/dev/null
  osslsigncode verify -CAfile "$ca_file" -in "$2" >"$2.verify" 2>&1 ||
    { cat "$2.verify" >&2; echo "the signature of $2 does not verify" >&2; exit 1; }
  rm -f "$2.verify"
}

if [ "${1:-}" = --next ]; then
  version=$(tree_version "$win")
  IFS=. read -r major minor patch <<<"$version"
  next="$major.$minor.$((patch + 1))"
  tree=build/windows-next
  cmake --preset windows -B "$tree" -DQUORVEL_VERSION="$next" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$tree" --target quorvel -j 2 >/dev/null
  out=build/dist-next; rm -rf "$out"; mkdir -p "$out"
  certificate reuse
  sign "$tree/app/quorvel.exe" "$out/quorvel.exe"
  msi "$out/quorvel.exe" "$next" "$out/unsigned.msi"
  sign "$out/unsigned.msi" "$out/quorvel-$next-x64.msi"
  rm -f "$out/unsigned.msi"
  echo "$out/quorvel-$next-x64.msi"
  exit 0
fi

for tree in "$win" "$x86"; do
  [ -f "$tree/CMakeCache.txt" ] || { echo "no build in $tree: make windows windows-x86 first" >&2; exit 1; }
done
version=$(tree_version "$win")
[ "$(tree_version "$x86")" = "$version" ] || { echo "$win and $x86 were built with other versions" >&2; exit 1; }
[ -f "$win/app/quorvel.exe" ] || { echo "no $win/app/quorvel.exe" >&2; exit 1; }
# The upgrade test's package was signed with the certificate that goes now.
rm -rf "$dist" build/dist-next; mkdir -p "$dist/unsigned"
for tree in "$win" "$x86"; do
  [ -f "$tree/client/quorvel_client.dll" ] || { echo "no $tree/client/quorvel_client.dll" >&2; exit 1; }
done

# layout DIR STAGE: the zip's tree from DIR's binaries (quorvel.exe, x86/ and x64/ DLLs).
layout() {
  local bin=$1 top=$2
  mkdir -p "$top/client" "$top/docs"
  cp "$bin/quorvel.exe" "$top/"
  cp docs/integration.md docs/release.md "$top/docs/"
  mkdir -p "$top/c/x86" "$top/c/x64"
  cp client/quorvel_client_c.h client/quorvel_client.def "$top/c/"
  cp "$bin/x86/quorvel_client.dll" "$top/c/x86/"; cp "$bin/x64/quorvel_client.dll" "$top/c/x64/"
  local arch tree
  for arch in x86 x64; do
    tree=$win; [ "$arch" = x86 ] && tree=$x86
    cmake --install "$tree" --component client --prefix "$top/cmake/$arch" >/dev/null
    # The package carries the DLL of the same build as the C interface beside it.
    cp "$bin/$arch/quorvel_client.dll" "$top/cmake/$arch/bin/"
  done
  # The sources to compile into a console: the package's own list, so that none is left out.
  cp "$top/cmake/x64/src/"* "$top/client/"
}
# archive TOP ZIP: every file with the commit's time, in one order, no extra fields.
archive() {
  local top=$1 zip parent name
  zip=$(realpath -m "$2"); parent=$(dirname "$top"); name=$(basename "$top")
  (cd "$top" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | xargs -d '\n' sha256sum >SHA256SUMS)
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
certificate
signed=$dist/signed; mkdir -p "$signed/x86" "$signed/x64"
for file in quorvel.exe x86/quorvel_client.dll x64/quorvel_client.dll; do
  sign "$raw/$file" "$signed/$file"
done
msi "$signed/quorvel.exe" "$version" "$signed/quorvel.msi"
sign "$signed/quorvel.msi" "$dist/quorvel-$version-x64.msi"
rm "$signed/quorvel.msi"
stage=$dist/stage/quorvel-$version
layout "$signed" "$stage"
archive "$stage" "$dist/quorvel-$version.zip"
rm -rf "$dist/stage" "$dist/signed" "$dist/unsigned/stage"
(cd "$dist" && sha256sum "quorvel-$version-x64.msi" "quorvel-$version.zip" >SHA256SUMS)
(cd "$dist/unsigned" && find . -type f ! -path './stage/*' ! -name SHA256SUMS | sed 's|^\./||' | sort |
  xargs -d '\n' sha256sum >SHA256SUMS)

echo "release $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $dist:"
(cd "$dist" && ls -l "quorvel-$version-x64.msi" "quorvel-$version.zip" | awk '{print "  " $5 "\t" $9}')
