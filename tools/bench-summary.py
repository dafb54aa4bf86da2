#!/usr/bin/env python3
"""bench-summary.py REPORTS: ratios to the baselines and growth, from the JSON that
tools/bench.sh leaves in REPORTS, into bench-summary.txt and bench-summary.json:
the native benchmarks, the start-up to exit, and the time to the first window.

Benchmark names are <group>/<kind>/<case>/<size>; each case is compared with the
case "baseline" of the same group, kind and size. Growth is the time at the largest
size over the time at the smallest; the exponent k of time ~ size^k tells linear
(near 1) from quadratic (near 2), over the whole range and over the last step."""
import json, math, os, sys


def medians(path):
    """{(group, case): {size: median CPU time in microseconds}}. CPU time, not wall
    time: the machine is shared, and a benchmark waiting for a core is not slower."""
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
    data = json.load(open(path))
    times = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        parts = b["run_name"].split("/")
        parts = [p for p in parts if p != "real_time"]
        group, case, size = "/".join(parts[:2]), parts[2], int(parts[3])
        times.setdefault((group, case), {})[size] = b["cpu_time"] * scale[b["time_unit"]]
    return times


def exponent(t0, t1, n0, n1):
    return math.log(t1 / t0) / math.log(n1 / n0)


def main():
    reports = sys.argv[1]
    summary = {"benchmarks": [], "startup": None}
    lines = []
    for name in ("bench-variant.json", "bench-fields.json"):
        path = os.path.join(reports, name)
        if not os.path.exists(path):
            lines.append("%s: missing" % name)
            continue
        times = medians(path)
        for (group, case), by_size in sorted(times.items()):
            if case == "baseline":
                continue
            base = times.get((group, "baseline"), {})
            sizes = sorted(by_size)
            lo, hi = sizes[0], sizes[-1]
            entry = {
                "group": group, "case": case,
                "ratio": {str(n): by_size[n] / base[n] for n in sizes if n in base},
                "time_us": {str(n): by_size[n] for n in sizes},
                "baseline_us": {str(n): base[n] for n in sizes if n in base},
                "growth": by_size[hi] / by_size[lo], "size_growth": hi / lo,
                "exponent": exponent(by_size[lo], by_size[hi], lo, hi),
                "exponent_last_step": exponent(by_size[sizes[-2]], by_size[hi], sizes[-2], hi),
            }
            # Quadratic growth shows as an exponent near 2; cache effects lift a linear
            # one a little above 1.
            entry["linear"] = entry["exponent"] < 1.25
            if lo in base and hi in base:
                entry["baseline_exponent"] = exponent(base[lo], base[hi], lo, hi)
            summary["benchmarks"].append(entry)
            ratios = ", ".join("%s %.2f" % (n, r) for n, r in entry["ratio"].items())
            lines.append("%-18s %-29s ratio to baseline by size: %s" % (group, case, ratios))
            lines.append("%-18s %-29s growth %d -> %d: x%.0f for x%.0f the size (exponent %.2f, last step %.2f,"
                         " baseline %.2f): %s" % ("", "", lo, hi, entry["growth"], entry["size_growth"],
                                                  entry["exponent"], entry["exponent_last_step"],
                                                  entry.get("baseline_exponent", float("nan")),
                                                  "linear" if entry["linear"] else "NOT LINEAR"))
    startup = os.path.join(reports, "bench-startup.json")
    if os.path.exists(startup):
        s = json.load(open(startup))
        summary["startup"] = {k: s[k] for k in ("runs", "quorvel_median", "null_median", "ratio",
                                                "quorvel_exe_bytes")}
        lines.append("start-up under Wine: quorvel.exe %.1f ms, do-nothing program %.1f ms (medians of %d"
                     " alternating runs): ratio %.2f" % (s["quorvel_median"], s["null_median"], s["runs"],
                                                         s["ratio"]))
        lines.append("quorvel.exe: %d bytes" % s["quorvel_exe_bytes"])
    else:
        lines.append("start-up: not measured")
    summary["window"] = None
    window = os.path.join(reports, "bench-window.json")
    if os.path.exists(window):
        w = json.load(open(window))
        summary["window"] = {"load_average": w["load_average"], "cores": w["cores"], "jobs": {}}
        lines.append("time to the first window under Wine, quorvel.exe against the minimal host (medians of %d"
                     " alternating runs, load average %s on %d cores; goal: ratio at most 1.10), and the client's"
                     " call against quorvel.exe started directly (goal: at most 1.05):"
                     % (min(j["runs"] for j in w["jobs"].values()), w["load_average"], w["cores"]))
        for job in ("sheet", "wizard"):
            j = w["jobs"].get(job)
            if not j:
                lines.append("  %-6s not measured" % job)
                continue
            summary["window"]["jobs"][job] = {k: v for k, v in j.items() if not k.endswith("_runs")}
            for what, label in (("window", "to the window"), ("end", "to the end after cancel")):
                if "ratio_" + what in j:
                    ratio = j["ratio_" + what]
                    lines.append("  %-6s %-24s quorvel.exe %7.1f ms, minimal host %7.1f ms: ratio %.2f%s"
                                 % (job, label, j["quorvel_%s_median" % what], j["host_%s_median" % what], ratio,
                                    "" if ratio <= 1.10 else "  ABOVE 1.10"))
                if "client_ratio_" + what in j:
                    ratio = j["client_ratio_" + what]
                    lines.append("  %-6s %-24s through the client %7.1f ms, quorvel.exe directly %7.1f ms:"
                                 " ratio %.2f%s" % (job, label, j["client_%s_median" % what],
                                                    j["quorvel_%s_median" % what], ratio,
                                                    "" if ratio <= 1.05 else "  ABOVE 1.05"))
    else:
        lines.append("time to the first window: not measured")
    json.dump(summary, open(os.path.join(reports, "bench-summary.json"), "w"), indent=2)
    text = "\n".join(lines) + "\n"
    open(os.path.join(reports, "bench-summary.txt"), "w").write(text)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
