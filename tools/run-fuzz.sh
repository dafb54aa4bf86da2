#!/usr/bin/env bash
# run-fuzz.sh BUILD_DIR SECONDS [RUNS]: runs every fuzz target for SECONDS (or, with RUNS, until it
# has made that many executions) from its seed corpus (fuzz/corpus/<name>, read only) and a working
# corpus in the build tree, which later runs start from; writes executions, coverage and corpus of
# each run to build/reports/fuzz.txt. FUZZ_TARGETS="a b" limits it to those targets. Fails on the
# first finding.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd); seconds=${2:-60}; runs=${3:-}
src=$(cd "$(dirname "$0")/.." && pwd)
reports="$src/build/reports"; mkdir -p "$reports"
report="$reports/fuzz.txt"; : >"$report"
status=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe"); seed="$src/fuzz/corpus/${name#fuzz_}"
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" ${name#fuzz_} "* ]]; then continue; fi
  work="$build/corpus/${name#fuzz_}"; mkdir -p "$work" "$build/findings"
  dirs=("$work"); [ -d "$seed" ] && dirs+=("$seed")
  log="$build/$name.log"
  limit=(-max_total_time="$seconds"); [ -n "$runs" ] && limit=(-runs="$runs")
  start=$(date +%s)
  if "$exe" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/findings/$name-" "${dirs[@]}" >"$log" 2>&1; then
    done_runs=$(grep -Eo 'Done [0-9]+ runs' "$log" | tail -1 | grep -Eo '[0-9]+' || echo '?')
    # The last status line: "#N DONE cov: C ft: F corp: K/SIZE ..."
    stats=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -Eo '(cov|ft|corp): [^ ]+' | tr '\n' ' ')
    echo "$name: $done_runs executions in $(( $(date +%s) - start ))s, ${stats}no finding" | tee -a "$report"
  else
    echo "$name: FINDING, see $log and $build/findings/" | tee -a "$report"
    tail -40 "$log"
    status=1
  fi
done
exit $status
