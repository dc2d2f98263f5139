#include "runner.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <utility>

#include "clock.hpp"
#include "interruption.hpp"
#include "lapack_peer.hpp"
#include "linalg.hpp"
#include "measurement.hpp"
#include "program.hpp"
#include "quietness.hpp"
#include "scalar_reference.hpp"
#include "statistics.hpp"
#include "test_data.hpp"
#include "timed_region.hpp"
#include "verification.hpp"
#include "workspace.hpp"

namespace {

const char* kernelChoiceText(const RunOptions& options, const TimedRegionResult& run) {
  if (run.kernelTried) return "trial";
  return options.kernel != "auto" || fixedKernelName() != nullptr ? "forced" : "only";
}

// The run's kernel trials, named; the candidates are its path's kernels in order.
std::vector<KernelTrialRecord> trialRecords(const TimedRegionResult& run) {
  std::vector<KernelTrialRecord> records;
  const std::span<const TileKernel> kernels = kernelsOf(*run.ran.path);
  for (int t = 0; t < run.trials.count; ++t) {
    const KernelTrialLog::Trial& trial = run.trials.trials[t];
    KernelTrialRecord record{trial.order, trial.rowsEach, trial.columns, trial.depth, {}, {}};
    const double rowFlops = 2.0 * kTileEdge * trial.columns * trial.depth;
    for (std::size_t c = 0; c < kernels.size() && c < KernelTrialLog::kMaxCandidates; ++c) {
      const long long median = trial.medianNanoseconds[c];
      record.candidates.push_back(KernelTrialRecord::Candidate{
          kernels[c].name, median, median > 0 ? rowFlops / static_cast<double>(median) : 0.0});
    }
    record.chosen = kernels[static_cast<std::size_t>(trial.chosen)].name;
    records.push_back(std::move(record));
  }
  return records;
}

// One of lubench's runs: the data generated as lubench does, all before the clock; then exactly
// lubench's timed region with each step timed; then the checks, after the clock.
std::optional<RunRecord> runOnce(Workspace& w, const RunOptions& options, QuietnessMeter& meter) {
  const int n = options.n;
  randMatrixGenSeeded(w.a.get(), n, n, options.seed);
  std::memcpy(w.original.get(), w.a.get(), w.entries * sizeof(double));
  randMatrixGenB(w.rhs.get(), n);
  randMatrixGenpvt(w.perm.get(), n);
  RunRecord record;
  meter.runStarts();
  TimedRegionOptions timing;
  timing.choice = kernelChoiceOf(options);
  timing.timeSteps = true;
  const std::optional<TimedRegionResult> run = runTimedRegion(
      TimedProblem{w.a.get(), w.perm.get(), w.s.get(), w.rhs.get(), n, options.block}, timing,
      kProgram);
  if (!run) return std::nullopt;
  meter.runEnds();

  record.singularColumns = run->singularColumns;
  record.startNanoseconds = elapsedNanoseconds(timespec{}, run->start);
  record.timedNanoseconds = elapsedNanoseconds(run->start, run->end);
  record.stepNanoseconds = run->stepNanoseconds;
  record.solveNanoseconds = run->solveNanoseconds;
  record.vectorPath = run->ran.path->name;
  record.kernel = run->ran.kernel->name;
  record.kernelChoice = kernelChoiceText(options, *run);
  record.kernelTrials = trialRecords(*run);
  record.gflops = hplFlops(n) / static_cast<double>(std::max(record.timedNanoseconds, 1LL));
  // The same solve again, outside the timed region, keeping x for the residual.
  luSolve(w.perm.get(), w.a.get(), w.rhs.get(), n, w.x.get());
  record.residual = scaledResidual(w.original.get(), w.x.get(), w.rhs.get(), n);
  record.fingerprint = fingerprint(w.a.get(), w.perm.get(), n);
  return record;
}

// LAPACK's factorisation and solve of the matrix and right-hand side of the run just made: the
// matrix copied in column-major order outside the timing, then dgetrf + dgetrs timed with the
// same clock.
std::optional<LapackRecord> runLapackOnce(Workspace& w, int n) {
  copyToColumnMajor(w.original.get(), w.lapackA.get(), n);
  std::memcpy(w.lapackX.get(), w.rhs.get(), static_cast<std::size_t>(n) * sizeof(double));
  LapackRecord record;
  timespec start{};
  timespec end{};
  if (!readMonotonicClock(start, kProgram)) return std::nullopt;
  record.info = lapackFactoriseAndSolve(w.lapackA.get(), w.lapackPivots.get(), w.lapackX.get(), n);
  if (!readMonotonicClock(end, kProgram)) return std::nullopt;
  record.timedNanoseconds = elapsedNanoseconds(start, end);
  record.gflops = hplFlops(n) / static_cast<double>(std::max(record.timedNanoseconds, 1LL));
  record.residual = scaledResidual(w.original.get(), w.lapackX.get(), w.rhs.get(), n);
  return record;
}

// The same data factorised by the plain scalar rendering in w's reference buffers, compared
// byte for byte with the factorisation left in w, and singular columns with the last run's.
ReferenceCheck checkAgainstReference(Workspace& w, const RunOptions& options, int singularColumns) {
  const int n = options.n;
  double* a = w.referenceA.get();
  int* perm = w.referencePerm.get();
  randMatrixGenSeeded(a, n, n, options.seed);
  randMatrixGenpvt(perm, n);
  const int referenceSingular = reference::blockedLu(a, perm, w.referenceS.get(), n, options.block);
  const bool same = referenceSingular == singularColumns &&
                    std::memcmp(a, w.a.get(), w.entries * sizeof(double)) == 0 &&
                    std::memcmp(perm, w.perm.get(), n * sizeof(int)) == 0;
  return same ? ReferenceCheck::kIdentical : ReferenceCheck::kDiffers;
}

}  // namespace

std::optional<CombinationRecord> runCombination(const RunOptions& options,
                                                const CombinationHooks& hooks) {
  Workspace workspace(options);
  if (!workspace.ready()) return std::nullopt;
  CombinationRecord record;
  record.options = options;
  if (options.compareLapack) record.lapackLibrary = lapackDescription();
  try {
    record.runs.reserve(static_cast<std::size_t>(options.repeat));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: cannot allocate the records of %d runs\n", kProgram, options.repeat);
    return std::nullopt;
  }
  const int totalRuns = options.repeat + (options.warmUp ? 1 : 0);
  QuietnessMeter warmUpMeter;
  QuietnessMeter meter;
  for (int run = 0; run < totalRuns; ++run) {
    const bool timed = !(options.warmUp && run == 0);
    if (!hooks.beforeRun()) return std::nullopt;
    if (timed && record.runs.empty()) meter.timedRunsStart();
    std::optional<RunRecord> one = runOnce(workspace, options, timed ? meter : warmUpMeter);
    if (one && options.compareLapack) {
      // Alternately with lubench's runs, so both see the machine in the same state.
      one->lapack = runLapackOnce(workspace, options.n);
      if (!one->lapack) return std::nullopt;
    }
    if (!one) return std::nullopt;
    if (timed) record.runs.push_back(*one);
    // The run's singular-pivot messages leave the buffer before anything else is written.
    std::fflush(stdout);
    hooks.runFinished(timed);
  }
  meter.timedRunsEnd();
  record.quietness = meter.record();
  if (options.checkReference) {
    hooks.referenceCheckStarts();
    record.reference =
        checkAgainstReference(workspace, options, record.runs.back().singularColumns);
  }
  return record;
}
