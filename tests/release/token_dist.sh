#!/usr/bin/env bash
# token_dist.sh SOURCE WORK: the release signed as vendors sign today, the key on a
# token. After make dist, its test key and certificate (whose CRL can never be fetched)
# go into a SoftHSM2 token; dist.sh signs through PKCS#11 with the PIN on standard
# input. Every signed file must verify against that certificate alone, the release
# folder must hold the release only, and the unsigned files must be those of build/dist.
set -uo pipefail
src=$1; work=$2
fail() { echo "FAILED: $*"; exit 1; }
module=$(ls /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so 2>/dev/null | head -1)
[ -n "$module" ] || fail "no SoftHSM2 module: Debian's softhsm2 and libengine-pkcs11-openssl"
signing=$src/build/dist/signing
[ -f "$signing/test-sign.key" ] || fail "no test-signed release in $src/build/dist (make dist)"
rm -rf "$work"; mkdir -p "$work/tokens"; cd "$work" || exit 1
export SOFTHSM2_CONF=$work/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label vendor --pin 2468 --so-pin 13579 >/dev/null || fail "no token"
openssl pkcs8 -topk8 -nocrypt -in "$signing/test-sign.key" -out sign.p8
softhsm2-util --import sign.p8 --token vendor --label release --id 51 --pin 2468 >/dev/null || fail "no key on the token"
rm -f sign.p8
cp "$signing/test-sign.pem" sign.pem; cp "$signing/test-ca.pem" ca.pem

out=$work/dist
# build/dist's time, even when a commit came since.
eval "export $(grep -m1 '^SOURCE_DATE_EPOCH=[0-9]*$' "$src/build/dist/TOOLS.txt")"
echo 2468 | env -u QUORVEL_SIGN_PFX -u QUORVEL_SIGN_CRLFILE -u QUORVEL_SIGN_TS -u QUORVEL_SIGN_PKCS11_ENGINE \
  QUORVEL_DIST_DIR="$out" QUORVEL_DIST_DIRTY_OK=1 QUORVEL_SIGN_PKCS11_MODULE="$module" \
  QUORVEL_SIGN_PKCS11_KEY='pkcs11:token=vendor;object=release;type=private' QUORVEL_SIGN_CERT="$work/sign.pem" \
  QUORVEL_SIGN_CAFILE="$work/ca.pem" QUORVEL_SIGN_PASSWORD_FILE=- "$src/packaging/dist.sh" >dist.log 2>&1 ||
  fail "dist.sh through the token: $(tail -5 dist.log | tr '\n' '|')"

version=$(sed -n 's/^release \([0-9.]*\) .*/\1/p' dist.log)
want="SHA256SUMS SHA256SUMS.p7s TOOLS.txt quorvel-$version-x64.msi quorvel-$version.zip unsigned"
[ "$(ls "$out" | tr '\n' ' ')" = "$want " ] || fail "the release folder holds: $(ls "$out" | tr '\n' ' ')"
mkdir zip && unzip -q "$out/quorvel-$version.zip" -d zip || fail "no zip"
leaf=$(openssl x509 -in sign.pem -outform DER | sha256sum | cut -c1-64)
top=zip/quorvel-$version
for file in "$out/quorvel-$version-x64.msi" "$top/quorvel.exe" "$top/c/x86/quorvel_client.dll" "$top/c/x64/quorvel_client.dll"; do
  osslsigncode verify -CAfile ca.pem -ignore-crl -require-leaf-hash "SHA256:$leaf" -in "$file" >verify.log 2>&1 ||
    fail "${file#"$work/"}: $(grep -i -m1 -E 'fail|error' verify.log)"
done
# The key on the token changes the signatures, never what went into them.
if [ -f "$src/build/dist/unsigned/SHA256SUMS" ]; then
  cmp -s "$out/unsigned/SHA256SUMS" "$src/build/dist/unsigned/SHA256SUMS" ||
    fail "unsigned files differ from build/dist's: $(diff "$out/unsigned/SHA256SUMS" "$src/build/dist/unsigned/SHA256SUMS" | head -3 | tr '\n' '|')"
fi
echo "ok: signed through PKCS#11 (SoftHSM2), verified offline against the token's certificate"
