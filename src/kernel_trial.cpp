#include "kernel_trial.hpp"

#include <ctime>

#include "blocking.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

namespace {

long long monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The median of three.
long long medianOf(const long long (&times)[KernelTrial::kRowsEach]) {
  static_assert(KernelTrial::kRowsEach == 3);
  const long long a = times[0], b = times[1], c = times[2];
  if (a < b) return b < c ? b : (a < c ? c : a);
  return a < c ? a : (b < c ? c : b);
}

}  // namespace

void beginPass(KernelTrial& trial, int order, int columns, int depth) {
  const int count = trial.plan->count;
  trial.trying = count > 1 && order / kTileEdge >= 2 * count * KernelTrial::kRowsEach &&
                 (trial.lastTrialOrder == 0 ||
                  static_cast<long long>(order) * KernelTrial::kShrinkDenominator <=
                      static_cast<long long>(trial.lastTrialOrder) * KernelTrial::kShrinkNumerator);
  if (!trial.trying) return;
  trial.lastTrialOrder = order;
  trial.record = KernelTrialLog::Trial{};
  trial.record.order = order;
  trial.record.rowsEach = KernelTrial::kRowsEach;
  trial.record.columns = columns;
  trial.record.depth = depth;
}

const TileKernel& kernelForRow(const KernelTrial& trial, int row) {
  const int count = trial.plan->count;
  if (trial.trying && row < count * KernelTrial::kRowsEach)
    return trial.plan->candidates[row % count];
  return kernelInUse(trial);
}

long long trialClock(const KernelTrial& trial) {
  return trial.plan->now != nullptr ? trial.plan->now() : monotonicNanoseconds();
}

void rowFinished(KernelTrial& trial, int row, long long nanoseconds) {
  const int count = trial.plan->count;
  if (!trial.trying || row >= count * KernelTrial::kRowsEach) return;
  trial.rowNanoseconds[row % count][row / count] = nanoseconds;
  if (row + 1 < count * KernelTrial::kRowsEach) return;
  // The trial's last row: the fastest median wins if it beats the kernel in use by the margin.
  trial.trying = false;
  for (int c = 0; c < count; ++c)
    trial.record.medianNanoseconds[c] = medianOf(trial.rowNanoseconds[c]);
  int fastest = trial.current;
  for (int c = 0; c < count; ++c) {
    if (trial.record.medianNanoseconds[c] < trial.record.medianNanoseconds[fastest]) fastest = c;
  }
  const long long inUse = trial.record.medianNanoseconds[trial.current];
  if (trial.record.medianNanoseconds[fastest] * 100 < inUse * (100 - KernelTrial::kMarginPercent)) {
    trial.current = fastest;
  }
  trial.record.chosen = trial.current;
  KernelTrialLog* log = trial.plan->log;
  if (log != nullptr && log->count < KernelTrialLog::kMaxTrials)
    log->trials[log->count++] = trial.record;
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
