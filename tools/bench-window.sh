#!/usr/bin/env bash
# bench-window.sh WINDOWS_BUILD RUNS: time to the first window. bench_window_timer.exe
# starts quorvel.exe and bench_min_host.exe (the platform's calls alone) with the
# same switch, takes the time until the program's first visible top-level window,
# cancels it and takes the time until the process has ended. It also starts
# quorvel.exe through the client library ("client": the client's call to the window,
# and to its outcome). Sheet and wizard, the programs alternating, RUNS each, against
# the stand-ins and a slapd of its own. QUORVEL_BENCH_WINDOW_PROGRAMS picks some of
# "host quorvel client". Writes build/reports/bench-window.json; the ratios of the
# medians are the figures (quorvel/host, client/quorvel).
set -euo pipefail
build=$(cd "${1:?windows build folder}" && pwd); runs=${2:-21}
src=$(cd "$(dirname "$0")/.." && pwd)
reports="$src/build/reports"; mkdir -p "$reports"
quorvel="$build/app/quorvel.exe"; host="$build/bench/bench_min_host.exe"; timer="$build/bench/bench_window_timer.exe"
for exe in "$quorvel" "$host" "$timer" "$build/standins/quorvel_adsldp.dll" \
           "$build/standins/quorvel_dsprop.dll" "$build/standins/quorvel_dsadmin.dll"; do
  [ -f "$exe" ] || { echo "bench-window: $exe missing (make windows)" >&2; exit 1; }
done

# The session of bench-startup.sh (one after the other, never at once), and a directory
# of its own so that a test run's edits do not meet the benchmark.
export QUORVEL_WINE_DIR="$build/wine-bench"
directory="$build/bench-slapd"
cleanup() {
  "$src/tools/wine-session.sh" stop "$QUORVEL_WINE_DIR" || true
  "$src/tools/slapd.sh" stop "$directory" || true
}
trap cleanup EXIT
"$src/tools/wine-session.sh" start "$QUORVEL_WINE_DIR" >/dev/null
server=$("$src/tools/slapd.sh" start "$directory")
"$src/tools/register-standins.sh" "$QUORVEL_WINE_DIR" "$build/standins" "$server" >/dev/null
. "$src/tools/wine-env.sh"
# Unmanaged as quorvel.exe's windows are (tools/wine-session.sh): a managed window
# would wait two seconds for a window manager at its close.
wine reg add 'HKCU\Software\Wine\AppDefaults\bench_min_host.exe\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

sheet='/adproppage:LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com'
wizard='/adcreateobjwiz:OU=Staff,DC=example,DC=com|0'
# run_once EXE STATUS TAIL...: "window end close cpu_window cpu_end" in microseconds
# (bench/window_timer_win.cpp); a run without a
# window, or with another exit status than STATUS, ends the benchmark.
run_once() {
  local exe=$1 expected=$2 out; shift 2
  [ "$exe" = --client ] || exe=$(winpath "$exe")
  # The tail goes as separate words: Wine would quote one that holds blanks.
  out=$(wine "$(winpath "$timer")" "$exe" "$@" </dev/null 2>&1 | tr -d '\r') || true
  if [[ "$out" != *"status=$expected"* ]]; then
    echo "bench-window: ${exe##*\\} $*: ${out:-no output}, expected status $expected" >&2; exit 1
  fi
  sed -E 's/.*window_us=([0-9]+) end_us=([0-9]+) close_us=([0-9]+) cpu_window_us=([0-9]+) cpu_end_us=([0-9]+).*/\1 \2 \3 \4 \5/' <<<"$out"
}
# The cancelled wizard answers S_FALSE, which quorvel.exe passes on as its status.
# shellcheck disable=SC2086
quorvel_sheet() { run_once "$quorvel" 0x00000000 $sheet; }
# shellcheck disable=SC2086
host_sheet() { run_once "$host" 0x00000000 $sheet; }
# shellcheck disable=SC2086
client_sheet() { run_once --client 0x00000000 "$(winpath "$quorvel")" $sheet; }
quorvel_wizard() { run_once "$quorvel" 0x00000001 "$wizard"; }
host_wizard() { run_once "$host" 0x00000000 "$wizard"; }
client_wizard() { run_once --client 0x00000001 "$(winpath "$quorvel")" "$wizard"; }

programs=${QUORVEL_BENCH_WINDOW_PROGRAMS:-host quorvel client}
reversed=$(tr ' ' '\n' <<<"$programs" | tac | tr '\n' ' ')
# One unmeasured run of each loads the files into the page cache and slapd's.
for job in sheet wizard; do for program in $programs; do "${program}_$job" >/dev/null; done; done
results=$(mktemp)
for i in $(seq "$runs"); do
  for job in sheet wizard; do
    if [ $((i % 2)) -eq 0 ]; then order=$reversed; else order=$programs; fi
    for program in $order; do
      # A failed run ends the benchmark here: run_once's exit leaves only its subshell.
      times=$("${program}_$job") || exit 1
      echo "$job $program $times" >>"$results"
    done
  done
done
load=$(cut -d' ' -f1-3 /proc/loadavg)
python3 - "$reports/bench-window.json" "$results" "$load" "$(nproc)" <<'PY'
import json, os, statistics, sys
out, path, load, cores = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
kinds = ("window", "end", "close", "cpu_window", "cpu_end")
runs = {}
for line in open(path):
    job, program, *times = line.split()
    runs.setdefault(job, {}).setdefault(program, []).append(tuple(int(t) / 1e3 for t in times))
result = {"unit": "ms", "load_average": load, "cores": cores, "nice": os.nice(0), "jobs": {}}
for job, by_program in runs.items():
    entry = {"runs": len(next(iter(by_program.values())))}
    for program, samples in by_program.items():
        for i, what in enumerate(kinds):
            values = [s[i] for s in samples]
            entry["%s_%s_median" % (program, what)] = statistics.median(values)
            q = statistics.quantiles(values, n=4)
            entry["%s_%s_quartiles" % (program, what)] = [q[0], q[2]]
        entry["%s_runs" % program] = samples
    for what in kinds:
        if "host" in by_program and "quorvel" in by_program:
            entry["ratio_" + what] = entry["quorvel_%s_median" % what] / entry["host_%s_median" % what]
        if "client" in by_program and "quorvel" in by_program:
            entry["client_ratio_" + what] = entry["client_%s_median" % what] / entry["quorvel_%s_median" % what]
    result["jobs"][job] = entry
    if "client_ratio_window" in entry:
        print("bench-window: %s: through the client to the window %.1f ms, quorvel.exe directly %.1f ms, ratio %.2f;"
              " to the end %.1f / %.1f ms, ratio %.2f (medians of %d, load %s)"
              % (job, entry["client_window_median"], entry["quorvel_window_median"], entry["client_ratio_window"],
                 entry["client_end_median"], entry["quorvel_end_median"], entry["client_ratio_end"],
                 entry["runs"], load))
    if "ratio_window" not in entry:
        continue
    print("bench-window: %s: to the window quorvel.exe %.1f ms, minimal host %.1f ms, ratio %.2f;"
          " to the end %.1f / %.1f ms, ratio %.2f; processor time to the window %.0f / %.0f ms"
          " (medians of %d, load %s)"
          % (job, entry["quorvel_window_median"], entry["host_window_median"], entry["ratio_window"],
             entry["quorvel_end_median"], entry["host_end_median"], entry["ratio_end"],
             entry["quorvel_cpu_window_median"], entry["host_cpu_window_median"], entry["runs"], load))
json.dump(result, open(out, "w"), indent=2)
PY
rm -f "$results"
