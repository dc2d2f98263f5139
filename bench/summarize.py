#!/usr/bin/env python3
"""Reads lubench_bench's JSON output and prints the median GFLOP/s per benchmark and order as a
Markdown table, then the floor of the plain scalar order's work when the run holds the tile-kernel and
memory-pass benchmarks, plus a whitespace-separated data file for gnuplot when a path is given.

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
    "BM_TrailingPass": "trailing pass alone",
    "BM_TrailingSweep": "look-ahead sweep alone",
    "BM_BlockedLuAndSolveWithStepTimes": "lubench with step times",
}


UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def median(table, family, order):
    """Median of the values recorded for one benchmark family and order, or None."""
    values = table.get((family, order))
    return statistics.median(values) if values else None


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
            times[(family, int(order))].append(run["real_time"] * UNIT_SECONDS[run["time_unit"]])
    orders = sorted({order for _, order in rates})
    kernels = sorted({run.get("label", "") for run in report["benchmarks"]
                      if run["run_name"].startswith("BM_LapackGetrfGetrs") and run.get("label")})
    if kernels:
        print("LAPACK ran with: " + ", ".join(kernels))
        print()

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

    floors = print_floor(report, orders, times)

    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as out:
            out.write("# n " + " ".join(f'"{NAMES[f]}"' for f in NAMES) +
                      ' "floor of the plain scalar order\'s work"\n')
            for order in orders:
                values = [median(rates, f, order) for f in NAMES]
                floor = floors.get(order)
                values.append(flops(order) / floor / 1e9 if floor else None)
                out.write(f"{order} " + " ".join("NaN" if v is None else f"{v:.3f}"
                                                 for v in values) + "\n")


def print_floor(report, orders, times):
    """The least time the plain scalar order's work can take here: the larger of the product's arithmetic
    at the tile kernel's in-cache rate and the memory traffic the trailing updates cannot avoid
    (each block's scratch region written, the trailing submatrix read and written once per
    sweep: a pair of blocks shares one), which at best hides entirely under the arithmetic. The
    steps outside the product are left out, so this is a lower bound. Then the whole timed
    region with a trailing pass per block against pairs of blocks per sweep, where measured."""
    kernel = []
    peaks = defaultdict(list)
    passes = defaultdict(list)
    depths = defaultdict(list)
    for run in report["benchmarks"]:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        parts = run["run_name"].split("/")
        if parts[0] == "BM_TileKernelInCache":
            kernel.append(run["GFLOP/s"])
        elif parts[0] == "BM_CorePeak":
            peaks[int(parts[1])].append(run["GFLOP/s"])
        # Recorded runs from before the rename carry the older name.
        elif parts[0] in ("BM_PlainOrderMemoryPasses", "BM_PrescribedMemoryPasses"):
            # Arg 2 is the number of blocks per sweep; older runs had one block per pass only.
            blocks = int(parts[2]) if len(parts) > 2 and parts[2].isdigit() else 1
            passes[(int(parts[1]), blocks)].append(
                run["real_time"] * UNIT_SECONDS[run["time_unit"]])
        elif parts[0] == "BM_LookAheadDepth":
            depths[(int(parts[1]), int(parts[2]))].append(
                run["real_time"] * UNIT_SECONDS[run["time_unit"]])
    if not kernel or not passes:
        return {}
    rate = statistics.median(kernel)
    print()
    print(f"Tile kernel in cache: {rate:.1f} GFLOP/s (median).")
    # The core's peak for separate multiplies and adds, and for fused multiply-adds: the second
    # bounds a library that fuses, the first this project.
    fused = statistics.median(peaks[1]) if peaks[1] else None
    if peaks[0] and fused:
        print(f"Core peak: {statistics.median(peaks[0]):.1f} GFLOP/s with separate multiplies "
              f"and adds, {fused:.1f} GFLOP/s with fused multiply-adds (medians).")
    print()
    print("| n | memory traffic, a pass per block (s) | memory traffic, pairs of blocks (s) |"
          " arithmetic at the kernel's rate (s) | floor (s) | LAPACK (s) | floor / LAPACK |"
          " lubench / floor | arithmetic at the fused peak (s) |")
    print("|---" * 9 + "|")
    floors = {}
    for order in orders:
        # The floor counts the traffic of the loop as it runs: pairs of blocks where measured.
        single = passes.get((order, 1))
        paired = passes.get((order, 2))
        if not single and not paired:
            continue
        traffic = statistics.median(paired or single)
        arithmetic = 2.0 / 3.0 * order ** 3 / (rate * 1e9)
        floor = max(arithmetic, traffic)
        floors[order] = floor
        peer_s = median(times, "BM_LapackGetrfGetrs", order)
        ours_s = median(times, "BM_BlockedLuAndSolve", order)
        print(f"| {order} | " + (f"{statistics.median(single):.3f}" if single else "–") +
              " | " + (f"{statistics.median(paired):.3f}" if paired else "–") +
              f" | {arithmetic:.3f} | {floor:.3f} | " +
              (f"{peer_s:.3f} | {floor / peer_s:.2f}" if peer_s else "– | –") +
              " | " + (f"{ours_s / floor:.2f}" if ours_s else "–") +
              " | " + (f"{2.0 / 3.0 * order ** 3 / (fused * 1e9):.3f}" if fused else "–") + " |")
    if depths:
        print()
        print("| n | a trailing pass per block (s) | pairs of blocks in one sweep (s) |"
              " pairs / single |")
        print("|---" * 4 + "|")
        for order in sorted({order for order, _ in depths}):
            one, two = depths.get((order, 1)), depths.get((order, 2))
            if one and two:
                print(f"| {order} | {statistics.median(one):.3f} | {statistics.median(two):.3f} |"
                      f" {statistics.median(two) / statistics.median(one):.2f} |")
    return floors


def flops(order):
    """Operations of one factorisation and solve as HPL counts them."""
    return 2.0 / 3.0 * order ** 3 + 1.5 * order ** 2


if __name__ == "__main__":
    main()
