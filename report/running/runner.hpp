#pragma once

#include <cstdio>
#include <functional>
#include <optional>

#include "build_info.hpp"
#include "records.hpp"

// The runner: makes the records of one combination (sweep.hpp runs every combination and hands
// them to the reporters).

// What the runner tells its caller while a combination runs.
struct CombinationHooks {
  // After each run, outside its timed region; false after the warm-up run.
  std::function<void(bool timed)> runFinished = [](bool) {};
  // Before the comparison with the plain scalar rendering starts.
  std::function<void()> referenceCheckStarts = [] {};
  // Just before each run, the warm-up run included, outside any timed region: where copies wait
  // for each other. False stops the combination (nothing is returned).
  std::function<bool()> beforeRun = [] { return true; };
};

// One combination's runs: options.repeat timed runs, after one untimed warm-up run when
// options.warmUp, each followed by LAPACK's run of the same matrix with compareLapack; then the
// comparison with the plain scalar rendering with checkReference. Every buffer is allocated
// before the first run. Nothing, after the reason has been printed on standard error, when a
// buffer cannot be had or the clock fails.
std::optional<CombinationRecord> runCombination(const RunOptions& options,
                                                const CombinationHooks& hooks);
