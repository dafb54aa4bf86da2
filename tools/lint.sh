#!/usr/bin/env bash
# lint.sh NATIVE_BUILD_DIR: clang-tidy over the program's portable sources, with the
# native tree's compile commands. Windows-only files need the cross headers, which
# clang-tidy cannot take from the mingw compile commands; gcc's warnings cover them.
set -euo pipefail
build=$(cd "${1:?native build folder}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"
mapfile -t files < <(git ls-files -co --exclude-standard 'app/*.cpp' 'propsheet/*.cpp' 'createwiz/*.cpp' \
  'util/*.cpp' 'client/*.cpp' 'platform/*.cpp' 'platform/**/*.cpp' | grep -v '_win\.cpp$' | grep -v '/win/' | sort -u |
  while read -r f; do grep -q "\"$src/$f\"" "$build/compile_commands.json" && echo "$f"; done)
[ ${#files[@]} -gt 0 ] || { echo "lint: no sources found in $build/compile_commands.json" >&2; exit 1; }
echo "clang-tidy: ${#files[@]} files"
rc=0
out=$(clang-tidy -p "$build" --quiet "${files[@]}" 2>&1) || rc=$?
printf '%s\n' "$out" | grep -v 'warnings\? generated' || true
exit $rc
