#!/usr/bin/env bash
# bench-startup.sh WINDOWS_BUILD RUNS: start-to-exit time of quorvel.exe without a
# switch beside bench_null.exe, a program of ours that only returns 0, both under one
# Wine session, alternating, RUNS each. Writes build/reports/bench-startup.json;
# the ratio of the medians is the figure, absolute times depend on the machine.
set -euo pipefail
build=$(cd "${1:?windows build folder}" && pwd); runs=${2:-21}
src=$(cd "$(dirname "$0")/.." && pwd)
reports="$src/build/reports"; mkdir -p "$reports"
quorvel="$build/app/quorvel.exe"; null="$build/bench/bench_null.exe"
for exe in "$quorvel" "$null"; do
  [ -f "$exe" ] || { echo "bench-startup: $exe missing (make windows)" >&2; exit 1; }
done

# A session of its own, so that a test run in the same tree keeps its own.
export QUORVEL_WINE_DIR="$build/wine-bench"
"$src/tools/wine-session.sh" start "$QUORVEL_WINE_DIR" >/dev/null
trap '"$src/tools/wine-session.sh" stop "$QUORVEL_WINE_DIR"' EXIT
. "$src/tools/wine-env.sh"

# Nanoseconds one start to exit takes; a nonzero exit status ends the benchmark.
run_once() {
  local start end status
  start=$(date +%s%N)
  set +e; wine "$1" </dev/null >/dev/null 2>&1; status=$?; set -e
  end=$(date +%s%N)
  if [ $status -ne 0 ]; then echo "bench-startup: $1 ended with $status" >&2; exit 1; fi
  echo $((end - start))
}

# One unmeasured run of each loads the files into the page cache.
run_once "$quorvel" >/dev/null; run_once "$null" >/dev/null
q=(); n=()
for i in $(seq "$runs"); do
  if [ $((i % 2)) -eq 0 ]; then
    q+=("$(run_once "$quorvel")"); n+=("$(run_once "$null")")
  else
    n+=("$(run_once "$null")"); q+=("$(run_once "$quorvel")")
  fi
done
size=$(stat -c %s "$quorvel")
python3 - "$reports/bench-startup.json" "$size" "${q[*]}" "${n[*]}" <<'PY'
import json, statistics, sys
out, size, q, n = sys.argv[1], int(sys.argv[2]), sys.argv[3].split(), sys.argv[4].split()
q = [int(x) / 1e6 for x in q]; n = [int(x) / 1e6 for x in n]
result = {
    "runs": len(q), "unit": "ms",
    "quorvel_median": statistics.median(q), "null_median": statistics.median(n),
    "ratio": statistics.median(q) / statistics.median(n),
    "quorvel_runs": q, "null_runs": n, "quorvel_exe_bytes": size,
}
json.dump(result, open(out, "w"), indent=2)
print("bench-startup: quorvel.exe %.1f ms, bench_null.exe %.1f ms (medians of %d), ratio %.2f, %d bytes"
      % (result["quorvel_median"], result["null_median"], len(q), result["ratio"], size))
PY
