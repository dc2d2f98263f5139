#pragma once

#include <cstdio>
#include <functional>
#include <optional>

#include "options.hpp"
#include "document.hpp"
#include "progress.hpp"
#include "records.hpp"
#include "reporter.hpp"

// The runner: makes the records of each combination and hands them to the reporter as each
// combination finishes.

// One combination's runs: options.repeat timed runs, after one untimed warm-up run when
// options.warmUp, each followed by LAPACK's run of the same matrix with compareLapack; then the
// comparison with the plain scalar rendering with checkReference. Every buffer is allocated
// before the first run. Nothing, after the reason has been printed on standard error, when a
// buffer cannot be had or the clock fails.
struct CombinationHooks {
  // After each run, outside its timed region; false after the warm-up run.
  std::function<void(bool timed)> runFinished = [](bool) {};
  // Before the comparison with the plain scalar rendering starts.
  std::function<void()> referenceCheckStarts = [] {};
};
std::optional<CombinationRecord> runCombination(const RunOptions& options,
                                                const CombinationHooks& hooks);

// The whole sweep: the memory check of every combination before anything runs, the peak (when
// asked for), then each combination in turn, written to document through reporter as soon as
// it finishes and flushed, so that a later failure or a signal leaves every finished combination
// in a valid document. With options.plotPath, draws the sweep at the end. Notes on slow work go
// to notes. Returns the exit status: 0 when every
// combination passed, 2 when a check failed, 1 when memory, the clock or the document failed.
// Warnings on the machine's quietness also go to notes when warningsToNotes.
int runSweep(const SweepOptions& options, const std::vector<ReportDocument*>& documents,
             ProgressDisplay& progress, std::FILE* notes, bool warningsToNotes);
