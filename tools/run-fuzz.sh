#!/usr/bin/env bash
# run-fuzz.sh BUILD_DIR SECONDS: runs every fuzz target for SECONDS from its seed corpus
# (fuzz/corpus/<name>, read only) and a working corpus in the build tree; writes the
# executions of each run to BUILD_DIR/../reports/fuzz.txt. Fails on the first finding.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd); seconds=${2:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
reports="$src/build/reports"; mkdir -p "$reports"
report="$reports/fuzz.txt"; : >"$report"
status=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe"); seed="$src/fuzz/corpus/${name#fuzz_}"
  work="$build/corpus/${name#fuzz_}"; mkdir -p "$work" "$build/findings"
  dirs=("$work"); [ -d "$seed" ] && dirs+=("$seed")
  log="$build/$name.log"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$build/findings/$name-" "${dirs[@]}" >"$log" 2>&1; then
    runs=$(grep -Eo 'Done [0-9]+ runs' "$log" | tail -1 | grep -Eo '[0-9]+' || echo '?')
    echo "$name: $runs executions in ${seconds}s, no finding" | tee -a "$report"
  else
    echo "$name: FINDING, see $log and $build/findings/" | tee -a "$report"
    tail -40 "$log"
    status=1
  fi
done
exit $status
