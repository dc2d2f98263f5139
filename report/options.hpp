#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output_target.hpp"
#include "program.hpp"
#include "records.hpp"

// What lubench-report is asked to do, and the parsers of its numbers.

struct SweepOptions {
  std::vector<int> orders{kBenchmarkOrder};  // every combination, orders outermost
  std::vector<int> blocks{kBenchmarkBlock};
  RunOptions base;  // everything but n and block; warmUp is set per sweep
  bool measurePeak = true;
  bool json = false;
  bool summaryOnly = false;
  std::string rowFormat = "table";   // --format: "table", "md" or "csv" for the summary rows
  std::optional<OutputTarget> out;   // --out: the JSON document goes there
  std::optional<OutputTarget> plot;  // --plot: an SVG or PNG drawn through gnuplot
  std::optional<int> affinity;       // --affinity: the CPU to pin the process to
  std::vector<std::pair<std::string, std::string>> userContext;  // --context KEY=VALUE

  // More than one combination.
  bool listed() const { return orders.size() * blocks.size() > 1; }
  // Every combination's options, in the order they run: one untimed warm-up run whenever there
  // is more than one timed run or more than one combination, so that no row carries the
  // process's one-time start-up costs.
  std::vector<RunOptions> combinations() const;
};

// A whole number in [smallest, largest] written in decimal digits only (leading zeros are
// decimal, never octal); nothing for anything else.
std::optional<long long> parseWholeNumber(const std::string& text, long long smallest,
                                          long long largest);

// A comma-separated list of distinct whole numbers in [1, largest], each parseWholeNumber.
struct ParsedList {
  std::vector<int> values;
  std::string error;  // empty when the list is good
};
ParsedList parseList(const std::string& text, int largest);

// The command line, parsed; on --help or a usage error, the status to exit with instead (the
// help already written to standard output, the error to standard error). isReservedKey tells the
// context's own keys, which --context may not replace.
struct CommandLine {
  std::optional<SweepOptions> options;
  int exitStatus = 0;
};
CommandLine parseCommandLine(int argc, char** argv,
                             const std::function<bool(const std::string&)>& isReservedKey);
