#pragma once

#include <utility>
#include <vector>

#include "records.hpp"

// Records made by hand for the tests of the statistics and the reporters: every step a tenth of
// the run, the solves a fifth.

inline RunRecord handBuiltRun(long long nanoseconds, double residual,
                              unsigned long long fingerprint) {
  RunRecord run;
  run.timedNanoseconds = nanoseconds;
  run.gflops = 1e3 / static_cast<double>(nanoseconds);
  run.residual = residual;
  run.fingerprint = fingerprint;
  for (int step = 0; step < kLuStepCount; ++step) run.stepNanoseconds[step] = nanoseconds / 10;
  run.solveNanoseconds = nanoseconds / 5;
  return run;
}

inline CombinationRecord handBuiltCombination(std::vector<RunRecord> runs) {
  CombinationRecord record;
  record.options.n = 100;
  record.options.block = 7;
  record.options.seed = 5;
  record.options.seedGiven = true;
  record.options.repeat = static_cast<int>(runs.size());
  record.runs = std::move(runs);
  return record;
}
