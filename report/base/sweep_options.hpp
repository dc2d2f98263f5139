#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output_target.hpp"
#include "records.hpp"

// What lubench-report is asked to do: the sweep's combinations and where its results go.

struct SweepOptions {
  std::vector<int> orders{kBenchmarkOrder};  // every combination, orders outermost
  std::vector<int> blocks{kBenchmarkBlock};
  std::vector<std::string> kernels{"auto"};  // --kernel: each a combination, innermost
  RunOptions base;  // everything but n and block; warmUp is set per sweep
  bool warmUpAsked = false;  // --warm-up: one untimed run before every combination's timed runs
  bool measurePeak = true;
  bool summaryOnly = false;
  // --format (or --json) for standard output, canonical (output_format.hpp): "text" (the
  // table), "md" or "csv" (the summary rows alone) or "json" (the document).
  std::string format = "text";
  // --out, in the order given: each written in the format its name says (formatOfOutName).
  std::vector<OutputTarget> outs;
  std::optional<OutputTarget> plot;  // --plot: an SVG or PNG drawn through gnuplot
  std::optional<int> affinity;       // --affinity: the CPU to pin the process to
  std::string copies;                // --copies as given: a count, "all" or "cores"; empty: none
  std::vector<CpuPlace> copyPlaces;  // the CPUs the copies run on, chosen before the sweep
  std::vector<std::pair<std::string, std::string>> userContext;  // --context KEY=VALUE

  // More than one combination.
  bool listed() const { return orders.size() * blocks.size() * kernels.size() > 1; }
  // Every combination's options, in the order they run: one untimed warm-up run whenever there
  // is more than one timed run or more than one combination, or when asked for, so that no row
  // carries the process's one-time start-up costs.
  std::vector<RunOptions> combinations() const;
};
