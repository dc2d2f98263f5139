#pragma once

#include "path_namespace.hpp"
#include "path_routines.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

// The block loop's running choice among the plan's kernels (see KernelPlan): which kernel is in
// use, when the last trial was, and the trial a pass is making. Lives in the block loop's frame.
struct KernelTrial {
  // Rows of tiles each candidate is given per trial; their median time is its figure.
  static constexpr int kRowsEach = 3;
  // A rival replaces the kernel in use only when its median is this many per cent lower.
  static constexpr int kMarginPercent = 2;
  // A new trial once the region's order is at most 2/3 of the last trial's.
  static constexpr int kShrinkNumerator = 2;
  static constexpr int kShrinkDenominator = 3;

  const KernelPlan* plan;
  int current = 0;         // the candidate in use
  int lastTrialOrder = 0;  // 0 before the first trial
  bool trying = false;     // this pass's first rows of tiles are being tried
  long long rowNanoseconds[KernelTrialLog::kMaxCandidates][kRowsEach] = {};
  KernelTrialLog::Trial record = {};
};

// The kernel in use.
inline const TileKernel& kernelInUse(const KernelTrial& trial) {
  return trial.plan->candidates[trial.current];
}

// A pass over a square trailing region of the given order, whose rows of tiles are columns wide
// and depth deep, begins: a trial starts when there is more than one candidate, the pass has at
// least two rows of whole tiles for each row the trial needs, and the region has shrunk enough
// since the last trial.
void beginPass(KernelTrial& trial, int order, int columns, int depth);

// The kernel for the pass's row of tiles number row (from 0): during a trial the candidates in
// turn, then the kernel in use.
const TileKernel& kernelForRow(const KernelTrial& trial, int row);

// Nanoseconds on the plan's clock.
long long trialClock(const KernelTrial& trial);

// Row number row of a trial took nanoseconds; after the trial's last row, the choice is made
// and logged.
void rowFinished(KernelTrial& trial, int row, long long nanoseconds);

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
