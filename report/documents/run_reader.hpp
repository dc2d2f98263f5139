#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "document_checks.hpp"

// The combinations of a run's document, read one run and one benchmark at a time as the parser
// completes them, so that no run stays in memory as JSON. Internal to report/documents.

namespace document_reading {

// The runs of the benchmark being read.
struct RunsSoFar {
  std::size_t count = 0;  // entries of "runs" seen, good or not
  std::vector<double> times;
  std::vector<std::map<std::string, double>> steps;
  // Each bad run's index and what is wrong with it; the first kMaxProblemsPerFile kept, the rest
  // counted. Likewise the warnings of step times left out.
  std::vector<std::pair<std::size_t, std::string>> problems;
  std::vector<std::pair<std::size_t, std::string>> warnings;
  std::size_t unlistedProblems = 0;
  std::size_t unlistedWarnings = 0;
};

// The combinations read so far, and which (n, block, kernel option) came first where.
struct BenchmarksSoFar {
  std::vector<SavedCombination> combinations;
  std::map<std::tuple<int, int, std::string>, std::size_t> seen;
};

// Reads one entry of a benchmark's "runs" into runs.
void readRun(const json& run, RunsSoFar& runs);

// Reads benchmarks[index] into so; runs holds what readRun read of its "runs" when that is an
// array. A combination that does not name its vector path is left with none.
void readBenchmark(const json& benchmark, std::size_t index, RunsSoFar& runs,
                   BenchmarksSoFar& so, Checker& check);

}  // namespace document_reading
