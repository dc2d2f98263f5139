#pragma once

#include <cstdio>
#include <functional>
#include <optional>

#include "document.hpp"
#include "options.hpp"
#include "progress.hpp"
#include "records.hpp"
#include "reporter.hpp"

// The runner: makes the records of each combination and hands them to the reporter as each
// combination finishes.

// What the runner tells its caller while a combination runs.
struct CombinationHooks {
  // After each run, outside its timed region; false after the warm-up run.
  std::function<void(bool timed)> runFinished = [](bool) {};
  // Before the comparison with the plain scalar rendering starts.
  std::function<void()> referenceCheckStarts = [] {};
};

// One combination's runs: options.repeat timed runs, after one untimed warm-up run when
// options.warmUp, each followed by LAPACK's run of the same matrix with compareLapack; then the
// comparison with the plain scalar rendering with checkReference. Every buffer is allocated
// before the first run. Nothing, after the reason has been printed on standard error, when a
// buffer cannot be had or the clock fails.
std::optional<CombinationRecord> runCombination(const RunOptions& options,
                                                const CombinationHooks& hooks);

// The whole sweep: the memory check of every combination before anything runs, the peak (when
// asked for), then each combination in turn, written to every document through its reporter as
// soon as it finishes and flushed, so that a later failure or a signal at any moment leaves
// every finished combination in a valid document. A document that can no longer be written
// keeps its last whole state while the others go on; the sweep ends early only when none is
// left. With options.plot, draws the sweep at the end. Notes on slow work go to notes; warnings
// on the machine's quietness too when warningsToNotes. Returns the exit status: 0 when every
// combination passed, 2 when a check failed, 1 when memory, the clock, a document or the plot
// failed.
int runSweep(const SweepOptions& options, const std::vector<ReportDocument*>& documents,
             ProgressDisplay& progress, std::FILE* notes, bool warningsToNotes);
