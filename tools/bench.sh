#!/usr/bin/env bash
# bench.sh [RUNS]: every benchmark, results in build/reports/: the Google Benchmark
# programs of the native build (bench-variant.json, bench-fields.json), quorvel.exe's
# start-to-exit time under Wine beside a do-nothing program (bench-startup.json),
# the time to the sheet's and the wizard's window beside a minimal host of the
# platform's calls (bench-window.json), and a summary of ratios and growth (bench-summary.txt, bench-summary.json).
# RUNS is the number of start-up and window runs of each program (default 21).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
reports="$src/build/reports"; mkdir -p "$reports"
runs=${1:-21}
for program in bench_variant bench_fields; do
  exe="$src/build/native/bench/$program"
  [ -x "$exe" ] || { echo "bench: $exe missing (make native)" >&2; exit 1; }
  echo "bench: $program"
  # Medians of five repetitions run in random order: the machine is shared, and a case
  # and its baseline should meet the same load.
  "$exe" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.1 --benchmark_out_format=json \
    --benchmark_out="$reports/bench-${program#bench_}.json" >"$reports/bench-${program#bench_}.log"
done
"$src/tools/bench-startup.sh" "$src/build/windows" "$runs"
"$src/tools/bench-window.sh" "$src/build/windows" "$runs"
python3 "$src/tools/bench-summary.py" "$reports"
