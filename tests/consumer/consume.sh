#!/usr/bin/env bash
# consume.sh TREE TOOLCHAIN WORK: installs TREE's client package into WORK/prefix, builds
# this folder's consoles against it with TOOLCHAIN (C++ through quorvel::client, C99
# through quorvel::client_c and its .dll.a), links a runtime-free object with lld-link
# through quorvel_client.lib, and runs them under Wine (an x86 build only where Wine
# runs 32-bit programs).
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
         lib/libquorvel_client.dll.a lib/quorvel_client.lib lib/cmake/quorvel_client_c/quorvel_client_c-config.cmake \
         lib/cmake/quorvel_client/quorvel_client-config.cmake lib/cmake/quorvel_client/quorvel_client-config-version.cmake; do
  [ -f "$work/prefix/$f" ] || fail "the package has no $f"
done
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$work/prefix/lib/cmake/quorvel_client_c/quorvel_client_c-config-version.cmake")
IFS=. read -r major minor patch <<<"$version"
triple=x86_64-w64-mingw32 machine=(/machine:x64) bytes=8
# MinGW's objects carry no SafeSEH table; MSVC's would.
[[ "$toolchain" == *i686* ]] && triple=i686-w64-mingw32 machine=(/machine:x86 /safeseh:no) bytes=4

# The C++ package's version file: MinGW GCC only, and any other compiler is pointed to
# the C interface (COMPILER MINGW: refused or accepted).
for row in "GNU 1 accepted" "MSVC 0 refused" "Clang 1 refused" "Clang 0 refused" "Intel 0 refused"; do
  read -r id mingw want <<<"$row"
  got=$(cmake -DCMAKE_CXX_COMPILER_ID="$id" -DMINGW="$mingw" -DCMAKE_SIZEOF_VOID_P="$bytes" \
          -DPACKAGE_FIND_VERSION=1.0 -DPACKAGE_FIND_VERSION_MAJOR=1 -DPACKAGE_FIND_VERSION_MINOR=0 \
          -P "$work/prefix/lib/cmake/quorvel_client/quorvel_client-config-version.cmake" 2>&1)
  verdict=accepted; grep -q 'quorvel::client_c' <<<"$got" && verdict=refused
  [ "$verdict" = "$want" ] || fail "the package's version file $verdict $id (mingw $mingw): $got"
done
cmake -S "$here" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" 2>&1 || fail "configure: $(tail -5 "$work/configure.log")"
cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "build: $(grep -m3 -i error "$work/build.log")"
# MSVC's way: an object linked by lld-link through the .lib, no runtime; on x86 its
# import must be the plain export name that the DLL has.
${triple}-gcc-posix -std=c99 -O2 -ffreestanding -fno-stack-protector -fno-asynchronous-unwind-tables \
  -DWANT_MAJOR="$major" -DWANT_MINOR="$minor" -DWANT_PATCH="$patch" -I "$work/prefix/include" \
  -c "$here/nocrt.c" -o "$work/build/nocrt.obj" || fail "nocrt.c does not compile"
lld-link /nologo /nodefaultlib /entry:entry /subsystem:console "${machine[@]}" "/out:$work/build/lld_consumer.exe" \
  "$work/build/nocrt.obj" "$work/prefix/lib/quorvel_client.lib" >"$work/lld.log" 2>&1 || fail "lld-link: $(head -3 "$work/lld.log")"
imports=$(llvm-readobj --coff-imports "$work/build/lld_consumer.exe" | sed -n 's/^ *Symbol: \([^ ]*\).*/\1/p')
[ "$imports" = QuorvelGetVersion ] || fail "lld_consumer.exe imports: $imports"
if [[ "$toolchain" == *i686* ]] && [ "$(cat "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)" != ok ]; then
  echo "built; not run: $(head -1 "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)"; exit 0
fi
. "$tools/wine-env.sh" || exit 1
run() { local exe=$work/build/$1; timeout 60 wine "Z:${exe//\//\\}" 2>/dev/null | tr -d '\r'; }
got=$(run consumer.exe)
# Refused (7) with E_INVALIDARG: the client ran; the DLL beside it loads.
grep -qx 'outcome: 7 0x80070057' <<<"$got" && grep -qx 'dll: loaded' <<<"$got" && grep -q '^located: ' <<<"$got" ||
  fail "the consumer said: $(tr '\n' '|' <<<"$got")"
got=$(run consumer_c.exe)
grep -qxF "c version: $version" <<<"$got" && grep -qx 'c outcome: 7 0x80070057' <<<"$got" ||
  fail "the C consumer said: $(tr '\n' '|' <<<"$got")"
run lld_consumer.exe >/dev/null; status=$?  # beside the DLL consumer_c's build copied
[ "$status" -eq 0 ] || fail "lld_consumer.exe ended with $status"
echo "ok: built against $work/prefix and ran"
