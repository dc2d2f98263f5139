#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "interruption.hpp"
#include "copies_text.hpp"
#include "labels.hpp"
#include "reporter.hpp"
#include "text_format.hpp"
#include "verification.hpp"

// The report as tables for people: a header with the sweep's context; each combination's runs,
// steps and checks as it finishes (or only its summary row); at the end, for several
// combinations, the summary rows together and the overall result.

namespace {

struct Row {
  RunOptions options;
  ReferenceCheck reference;
  Summary summary;
  std::string kernel;  // the kernel that ran (kernelLabel)
};

// The kernels the build's path of that name holds.
const std::vector<std::string>& pathKernels(const std::string& path) {
  static const std::vector<std::string> none;
  for (const HeldPath& held : buildInfo().paths) {
    if (held.name == path) return held.kernels;
  }
  return none;
}

// The tile kernel that the option names, the path it runs on and who chose it.
std::string kernelText(const RunOptions& base, const std::string& option) {
  RunOptions options = base;
  options.kernel = option;
  const PathAndKernel ran = pathAndKernelOf(options);
  if (ran.kernel.empty()) return option + ", which no vector path this CPU runs holds";
  const std::optional<std::string>& fixed = buildInfo().fixedKernel;
  std::string how = "chosen automatically: " + ran.path + "'s default";
  const std::vector<std::string>& held = pathKernels(ran.path);
  if (option == "auto" && !fixed && held.size() > 1) {
    std::string others;
    for (const std::string& kernel : held) others += (others.empty() ? "" : ", ") + kernel;
    return "chosen by trial on the runs' own sweeps among " + others + " on " + ran.path +
           ", starting from " + ran.kernel;
  }
  if (option != "auto") {
    how = "forced by --kernel";
  } else if (fixed && ran.kernel == *fixed) {
    how = "fixed by the build (LUBENCH_KERNEL)";
  }
  return ran.kernel + " on " + ran.path + ", " + how;
}

// The vector path and tile kernels the runs use, and how each was chosen.
std::string choiceText(const SweepOptions& sweep) {
  const RunOptions& base = sweep.base;
  const bool kernelsForced = sweep.kernels != std::vector<std::string>{"auto"};
  std::string out = "  vector path: ";
  RunOptions pathOnly = base;
  pathOnly.kernel = "auto";
  const PathAndKernel path = pathAndKernelOf(pathOnly);
  const std::string width = formatText(" (%d doubles per vector)", path.doubles);
  if (base.vectorPath != "auto") {
    out += path.path + width + ", forced by --vector-path\n";
  } else if (kernelsForced) {
    out += "chosen automatically for each kernel: the widest this CPU runs that holds it\n";
  } else if (path.path.empty()) {
    out += "none: no vector path this CPU runs holds the build's kernel\n";
  } else {
    out += path.path + width + ", chosen automatically: the widest this CPU runs" +
           (buildInfo().fixedKernel ? " that holds the build's kernel\n" : "\n");
  }
  if (sweep.kernels.size() == 1) {
    return out + "  tile kernel: " + kernelText(base, sweep.kernels[0]) + "\n";
  }
  out += "  tile kernels, one combination each:\n";
  for (const std::string& kernel : sweep.kernels) out += "    " + kernelText(base, kernel) + "\n";
  return out;
}

// Every vector path the build holds, one a line, with its kernels.
std::string heldPathsText() {
  std::string out = "  the build holds (each path's default kernel first):\n";
  for (const HeldPath& path : buildInfo().paths) {
    std::string kernels;
    for (const std::string& kernel : path.kernels) {
      kernels += (kernels.empty() ? "" : ", ") + kernel;
    }
    out += formatText("    %s (needs %s; %d double%s; %d blocks a sweep): %s%s\n",
                      path.name.c_str(), path.needs.c_str(), path.doubles,
                      path.doubles == 1 ? "" : "s", path.blocksPerSweep, kernels.c_str(),
                      path.runsHere ? "" : "; not on this CPU");
  }
  return out;
}

class TableReporter : public Reporter {
 public:
  explicit TableReporter(bool summaryOnly) : summaryOnly_(summaryOnly) {}

  void context(const SweepContext& context, const TextSink& sink) override {
    context_ = context;
    const RunOptions& o = context.options.base;
    const bool warmUp = context.options.combinations().front().warmUp;
    std::string out = "lubench-report: blocked LU factorisation and solves, one thread\n";
    out += formatText("  seed %u%s; %d timed run%s per combination%s\n", o.seed,
                      o.seedGiven ? "" : " (from the calendar clock)", o.repeat,
                      o.repeat == 1 ? "" : "s", warmUp ? ", after one untimed warm-up run" : "");
    out += "  machine: " + machineSummary(context) + "\n";
    out += "  build: " + buildSummary() + "\n";
    out += choiceText(context.options);
    out += "  compiler: " + compilerDescription() + "\n";
    out += heldPathsText();
    if (context.peak) {
      out += formatText(
          "  peak: %.2f GFLOP/s for separate multiplies and adds, as lubench does them, measured "
          "on this\n  core now by independent chains of them (best of %d tries in %.2f s); not a "
          "data-sheet figure\n",
          context.peak->gflops, context.peak->tries, context.peak->seconds);
      out += formatText(
          "  tile kernel: %.2f GFLOP/s on operands in the first-level cache (%.1f%% "
          "of the peak)\n",
          context.peak->kernelGflops,
          context.peak->gflops > 0 ? 100 * context.peak->kernelGflops / context.peak->gflops : 0.0);
      out += formatText(
          "  fused multiply-add: %.2f GFLOP/s on this core now; LAPACK libraries may use it, "
          "the plain scalar\n  order of operations may not%s\n",
          context.peak->fusedGflops,
          context.peak->fusedInstruction ? "" : " (this vector path has no instruction)");
    }
    if (o.compareLapack) out += "  LAPACK: " + context.lapackLibrary + "\n";
    if (summaryOnly_) {
      out += "\n";
      out += rowHeader();
    }
    sink(out);
  }

  void combination(const CombinationRecord& record, const Summary& summary,
                   const TextSink& sink) override {
    rows_.push_back(Row{record.options, record.reference, summary, kernelLabel(record)});
    if (summaryOnly_) {
      sink(rowLine(rows_.back()));
    } else {
      writeCombination(record, summary, sink);
    }
    if (summary.copies) sink(copiesText(*summary.copies, summary));
    if (!summary.kernelTrials.empty() && !summaryOnly_) sink(trialsText(summary));
  }

  void end(const SweepEnd& end, const TextSink& sink) const override {
    std::string out;
    const bool listed = context_.options.listed();
    if (!summaryOnly_ && listed && !rows_.empty()) {
      out += "\nsummary\n";
      out += rowHeader();
      for (const Row& row : rows_) out += rowLine(row);
    }
    if ((summaryOnly_ || listed) && context_.options.base.compareLapack && !rows_.empty()) {
      out += "  (ratio: lubench's median time over LAPACK's, over the same alternating runs)\n";
    }
    switch (end.kind) {
      case SweepEnd::Kind::kComplete:
        if (summaryOnly_ || listed) {
          std::vector<const CopiesSummary*> copies;
          for (const Row& row : rows_) {
            if (row.summary.copies) copies.push_back(&*row.summary.copies);
          }
          out += "result: " + resultText(end.passed, copies) + "\n";
          // The runs passed or not, a rate outside its band fails the sweep (status 4).
          std::string outside;
          for (const Row& row : rows_) {
            if (!row.summary.expectation || !row.summary.expectation->outside()) continue;
            outside += formatText("%sn %d, block %d", outside.empty() ? "" : "; ", row.options.n,
                                  row.options.block);
            if (kernelColumn()) outside += ", kernel " + row.kernel;
          }
          if (!outside.empty()) out += "reference bands: OUTSIDE for " + outside + "\n";
        }
        break;
      case SweepEnd::Kind::kInterrupted:
        out += formatText("result: INTERRUPTED by %s after %d of %d combinations\n",
                          signalName(end.signal), end.finished, end.total);
        break;
      case SweepEnd::Kind::kFailed:
        out += formatText("result: FAILED, stopped by an error after %d of %d combinations\n",
                          end.finished, end.total);
        break;
    }
    sink(out);
  }

 private:
  std::string rowHeader() const {
    std::string out;
    out += formatText("%7s %7s ", "n", "b");
    if (kernelColumn()) out += formatText("%-22s ", "kernel");
    out += formatText("%16s %9s %10s %10s %8s %10s %17s", "median (ns)", "GFLOP/s", "efficiency",
                      "residual", "r < 16", "reference", "fingerprint");
    if (context_.options.base.compareLapack) {
      out += formatText(" %16s %9s %10s %8s", "LAPACK (ns)", "GFLOP/s", "residual", "ratio");
    }
    if (context_.expectations) out += "  band";
    return out + "\n";
  }

  // A kernel column when --kernel named kernels: the combinations of one n and block differ in it.
  bool kernelColumn() const { return context_.options.kernels != std::vector<std::string>{"auto"}; }

  std::string rowLine(const Row& row) const {
    const Summary& s = row.summary;
    const std::string efficiency =
        s.efficiency ? formatText("%.1f%%", 100 * *s.efficiency) : std::string("-");
    const char* reference =
        row.reference == ReferenceCheck::kNotRequested ? "-" : referenceCheckText(row.reference);
    std::string out;
    out += formatText("%7d %7d ", row.options.n, row.options.block);
    if (kernelColumn()) out += formatText("%-22s ", row.kernel.c_str());
    out += formatText(
        "%16.0f %9.2f %10s %10.4g %8s %10s %17s", s.timed.spread.median, s.gflops.median,
        efficiency.c_str(), s.residual.max, passedText(s.residualsPassed), reference,
        s.fingerprintsAgree ? formatFingerprint(s.fingerprint).c_str() : "RUNS DISAGREE");
    if (s.lapack) {
      out +=
          formatText(" %16.0f %9.2f %10.4g %8.2f", s.lapack->timedNanoseconds.median,
                     s.lapack->gflops.median, s.lapack->residualMax, s.lapack->lubenchOverLapack);
    }
    if (s.expectation) out += "  " + bandText(*s.expectation);
    return out + "\n";
  }

  void writeCombination(const CombinationRecord& record, const Summary& s,
                        const TextSink& sink) const {
    const RunOptions& o = record.options;
    std::string out = "\n";
    std::string kernel;
    if (kernelColumn()) {
      const PathAndKernel ran = ranOn(record);
      kernel = ", kernel " + ran.kernel + " on " + ran.path + (o.kernel == "auto" ? " (auto)" : "");
    }
    out +=
        formatText("n %d, block %d%s: %d timed run%s%s\n\n", o.n, o.block, kernel.c_str(), o.repeat,
                   o.repeat == 1 ? "" : "s", o.warmUp ? " after one untimed warm-up run" : "");
    out += formatText("%-8s %20s %10s %12s %9s", "run", "timed region (ns)", "GFLOP/s", "residual",
                      "check");
    if (o.compareLapack) out += formatText(" %20s %10s %12s", "LAPACK (ns)", "GFLOP/s", "residual");
    out += "\n";
    for (std::size_t i = 0; i < record.runs.size(); ++i) {
      const RunRecord& run = record.runs[i];
      out += formatText("%-8zu %20lld %10.2f %12.4g %9s", i + 1, run.timedNanoseconds, run.gflops,
                        run.residual, passedText(residualPassed(run.residual)));
      if (run.lapack) {
        out += formatText(" %20lld %10.2f %12.4g", run.lapack->timedNanoseconds, run.lapack->gflops,
                          run.lapack->residual);
        if (run.lapack->info != 0) out += formatText("  (LAPACK info %d)", run.lapack->info);
      }
      out += "\n";
      // Handed on in pieces: the table of a million runs is never held whole.
      if (out.size() > 1 << 16) {
        sink(out);
        out.clear();
      }
    }
    out += formatText("%-8s %20.0f %10.2f\n", "min", s.timed.spread.min, s.gflops.min);
    out += formatText("%-8s %20.0f %10.2f\n", "median", s.timed.spread.median, s.gflops.median);
    out += formatText("%-8s %20.0f %10.2f\n", "max", s.timed.spread.max, s.gflops.max);
    out += formatText("%-8s %20.0f\n%-8s %20.0f  (coefficient of variation %.1f %%)\n", "mean",
                      s.timed.mean, "stddev", s.timed.stddev, 100 * s.timed.cv);
    if (s.timed.medianInterval) {
      out += formatText("interval of the median: %.0f to %.0f ns (confidence %.1f %%)\n",
                        s.timed.medianInterval->low, s.timed.medianInterval->high,
                        100 * s.timed.medianInterval->confidence);
    } else {
      out += formatText("interval of the median: too few runs (%d or more give one)\n",
                        kMinimumIntervalRuns);
    }
    if (!s.timed.outliers.empty()) {
      out += "outliers (flagged, kept):";
      for (int run : s.timed.outliers) out += formatText(" run %d", run + 1);
      out += "\n";
    }
    out += "\n";

    out += formatText("%-38s %15s %15s %15s %7s\n", "step", "min (ns)", "median (ns)", "max (ns)",
                      "share");
    for (int step = 0; step <= kLuStepCount; ++step) {
      const Spread& spread = step < kLuStepCount ? s.steps[step] : s.solves;
      out += formatText("%-38s %15.0f %15.0f %15.0f %6.1f%%\n",
                        step < kLuStepCount ? kLuStepNames[step] : "solves", spread.min,
                        spread.median, spread.max, 100.0 * s.shareOfMedian[step]);
    }
    out += formatText("  (shares of the median timed region)\n\n");

    out += formatText(
        "scaled residual ||Ax-b||_inf / (eps (||A||_inf ||x||_inf + ||b||_inf) n), "
        "eps = 2^-53: %.6g (largest over the runs), %s (PASSED when below %g)\n",
        s.residual.max, passedText(s.residualsPassed), kResidualBound);
    if (std::isfinite(s.residual.max) && !residualPassed(s.residual.max)) {
      out +=
          "  note: each block's pivots are chosen before the block is eliminated, which lets "
          "entries grow\n  more than partial pivoting does, so r can pass 16 on a correct "
          "factorisation;\n  --check-reference tells whether the arithmetic itself is exact.\n";
    }
    if (s.singularColumns > 0) {
      out += formatText("singular pivot columns reported: %d\n", s.singularColumns);
    }
    if (s.efficiency) {
      out += formatText("efficiency: %.1f%% of the measured peak of %.2f GFLOP/s (median rate)\n",
                        100.0 * *s.efficiency, context_.peak->gflops);
    }
    if (s.expectation) {
      const BandCheck& band = *s.expectation;
      out += band.band ? formatText("reference band: median %.2f GFLOP/s, ", band.measuredGflops) +
                             bandText(band) + (band.outside() ? "  (OUTSIDE ITS BAND)" : "") + "\n"
                       : "reference band: none for this CPU model, vector path, n and block (no "
                         "reference)\n";
    }
    if (s.lapack) {
      out += formatText(
          "LAPACK dgetrf + dgetrs, run after each of lubench's runs on the same matrix: "
          "median %.0f ns, %.2f GFLOP/s, largest residual %.4g\n",
          s.lapack->timedNanoseconds.median, s.lapack->gflops.median, s.lapack->residualMax);
      out += "  library: " + record.lapackLibrary + "\n";
      out +=
          formatText("  lubench time / LAPACK time: %.2f (medians)\n", s.lapack->lubenchOverLapack);
    }
    out += "fingerprint of the factorised matrix and permutation (FNV-1a 64): " +
           formatFingerprint(s.fingerprint) + (s.fingerprintsAgree ? "" : "  (RUNS DISAGREE)") +
           "\n";
    out += std::string("comparison with the plain scalar rendering: ") +
           referenceCheckText(record.reference) + "\n";
    std::vector<const CopiesSummary*> copies;
    if (s.copies) copies.push_back(&*s.copies);
    out += "result: " + resultText(s.passed, copies) + "\n";
    sink(out);
  }

  // The tile kernels' trials, one line per trial: the region's order, how often each kernel was
  // chosen over the runs, each candidate's median rate in its rows of tiles.
  static std::string trialsText(const Summary& summary) {
    std::string out = "\nkernel trials on the runs' own sweeps (region order: chosen; GFLOP/s in the "
                      "rows tried)\n";
    for (const KernelTrialSummary& trial : summary.kernelTrials) {
      std::string chosen, rates;
      for (const auto& [kernel, times] : trial.chosen) {
        chosen += formatText("%s%s %d of %d", chosen.empty() ? "" : ", ", kernel.c_str(), times,
                             trial.runs);
      }
      for (const auto& [kernel, gflops] : trial.gflops) {
        rates += formatText("%s%s %.1f", rates.empty() ? "" : ", ", kernel.c_str(), gflops);
      }
      out += formatText("  %5d: %s; %s\n", trial.order, chosen.c_str(), rates.c_str());
    }
    return out;
  }

  bool summaryOnly_;
  SweepContext context_;
  std::vector<Row> rows_;
};

}  // namespace

std::unique_ptr<Reporter> makeTableReporter(bool summaryOnly) {
  return std::make_unique<TableReporter>(summaryOnly);
}
