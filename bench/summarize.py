#!/usr/bin/env python3
"""Reads lubench_bench's JSON output and prints the median GFLOP/s per benchmark and order as a
Markdown table, plus a whitespace-separated data file for gnuplot when a path is given.

    bench/summarize.py bench.json [plot-data.dat]
"""
import json
import statistics
import sys
from collections import defaultdict

NAMES = {
    "BM_BlockedLuAndSolve": "lubench",
    "BM_LapackGetrfGetrs": "LAPACK (OpenBLAS)",
    "BM_ScalarRendering": "plain scalar",
    "BM_Cache1": "cache1 alone",
    "BM_BlockedLuAndSolveWithStepTimes": "lubench with step times",
}


def main():
    with open(sys.argv[1]) as f:
        report = json.load(f)
    # Individual repetitions only: the medians are taken here, so one or several repetitions
    # give the same table.
    rates = defaultdict(list)
    times = defaultdict(list)
    for run in report["benchmarks"]:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        family, order = run["run_name"].split("/")[:2]
        if family in NAMES:
            rates[(family, int(order))].append(run["GFLOP/s"])
            times[(family, int(order))].append(run["real_time"])
    orders = sorted({order for _, order in rates})

    def median(table, family, order):
        values = table.get((family, order))
        return statistics.median(values) if values else None

    def cell(value, fmt):
        return fmt.format(value) if value is not None else "–"

    print("| n | " + " | ".join(f"{NAMES[f]} GFLOP/s" for f in NAMES) +
          " | lubench time / LAPACK time | speed-up over plain scalar |")
    print("|---" * (len(NAMES) + 3) + "|")
    for order in orders:
        row = [cell(median(rates, f, order), "{:.1f}") for f in NAMES]
        ours = median(times, "BM_BlockedLuAndSolve", order)
        peer = median(times, "BM_LapackGetrfGetrs", order)
        scalar = median(times, "BM_ScalarRendering", order)
        ratio = ours / peer if ours and peer else None
        speedup = scalar / ours if ours and scalar else None
        print(f"| {order} | " + " | ".join(row) +
              f" | {cell(ratio, '{:.2f}')} | {cell(speedup, '{:.1f}')} |")

    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as out:
            out.write("# n " + " ".join(f'"{NAMES[f]}"' for f in NAMES) + "\n")
            for order in orders:
                values = [median(rates, f, order) for f in NAMES]
                out.write(f"{order} " + " ".join("NaN" if v is None else f"{v:.3f}"
                                                 for v in values) + "\n")


if __name__ == "__main__":
    main()
