#!/usr/bin/env bash
# consume.sh TREE TOOLCHAIN WORK: installs TREE's client package into WORK/prefix, builds
# this folder's console against it with TOOLCHAIN, and runs it under Wine (an x86
# build only where Wine runs 32-bit programs).
set -uo pipefail
tree=$1; toolchain=$2; work=$3
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAILED: $*"; exit 1; }
cmake --install "$tree" --component client --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  fail "install: $(tail -3 "$work/install.log")"
for f in include/quorvel_client.h include/client_rules.h include/quorvel_client_c.h lib/libquorvel_client.a \
         lib/libquorvel_client_rules.a bin/quorvel_client.dll lib/quorvel_client.def src/quorvel_client_win.cpp \
         lib/cmake/quorvel_client/quorvel_client-config.cmake lib/cmake/quorvel_client/quorvel_client-config-version.cmake; do
  [ -f "$work/prefix/$f" ] || fail "the package has no $f"
done
cmake -S "$here" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" 2>&1 || fail "configure: $(tail -5 "$work/configure.log")"
cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "build: $(grep -m3 -i error "$work/build.log")"
if [[ "$toolchain" == *i686* ]] && [ "$(cat "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)" != ok ]; then
  echo "built; not run: $(head -1 "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)"; exit 0
fi
. "$tools/wine-env.sh" || exit 1
exe=$work/build/consumer.exe
got=$(timeout 60 wine "Z:${exe//\//\\}" 2>/dev/null | tr -d '\r')
# Refused (7) with E_INVALIDARG: the client ran; the DLL beside it loads.
grep -qx 'outcome: 7 0x80070057' <<<"$got" && grep -qx 'dll: loaded' <<<"$got" && grep -q '^located: ' <<<"$got" ||
  fail "the consumer said: $(tr '\n' '|' <<<"$got")"
echo "ok: built against $work/prefix and ran"
