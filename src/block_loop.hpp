#pragma once

#include <cstdio>

#include "blocking.hpp"
#include "kernel_trial.hpp"
#include "look_ahead.hpp"
#include "lu_step.hpp"
#include "lu_steps.hpp"
#include "path_routines.hpp"
#include "simd.hpp"
#include "trailing_product.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Tells observer, when there is one, that step has just finished.
inline void tell(StepObserver* observer, LuStep step) {
  if (observer != nullptr) observer->finished(step);
}

// One block's panel after its interchanges: L and U of the diagonal block, the multipliers of the
// rows below it, the rows of U to its right.
inline void eliminateBlockPanel(double* a, int n, int first, int end, StepObserver* observer) {
  eliminateDiagonalBlock(a, n, first, end);
  tell(observer, LuStep::kDiagonalBlock);
  computeMultipliers(a, n, first, end);
  tell(observer, LuStep::kMultipliers);
  solveBlockRowOfU(a, n, first, end);
  tell(observer, LuStep::kBlockRowOfU);
}

// The block loop of blockedLu (timed_region.hpp), whole tiles of its trailing updates by the
// plan's kernels (each block's or pair's sweep over the trailing submatrix may try them, see
// KernelPlan; the other updates use the kernel in use), telling observer (may be null) after each step which step has just finished, so a caller can
// time the steps without a second copy of the loop. Returns the number of columns reported
// singular.
//
// Blocks go in pairs: block K = [first, end) and K' = [end, next). After K's panel, K's update
// of K''s columns lets K' choose its pivots without moving a row; the rows those interchanges
// move, and K''s own rows, then receive the rest of K's update; the interchanges are made and
// K''s panel eliminated; one sweep over [next, n)^2 applies both blocks' updates. After each pair
// a, perm and s hold exactly what the blocks one at a time leave. Blocks deeper than
// kMaxLookAheadBlock, a pair whose second block is the last, and every block when
// blocksPerSweep is 1 (for measuring what the look-ahead gains), run one trailing pass each.
inline int runBlockedLu(double* a, int* perm, double* s, int n, int b, const KernelPlan& plan,
                        StepObserver* observer, int blocksPerSweep) {
  if (n <= 0) return 0;
  if (b <= 0) {
    std::fprintf(stderr, "blockedLu: block size %d is not positive; the matrix is left as it is\n",
                 b);
    return 0;
  }
  // The next block's pivots are searched in one call, with its interchanges pending.
  const bool lookAhead = b <= kMaxLookAheadBlock && blocksPerSweep >= 2;
  int pivotRows[kMaxLookAheadBlock];
  int singularColumns = 0;
  KernelTrial trial{&plan};
  // Block bounds are formed in 64 bits so that ib + b cannot overflow for any b.
  for (long long ib = 0; ib < n;) {
    const int first = static_cast<int>(ib);
    const int end = static_cast<int>(ib + b < n ? ib + b : n);
    // Pivots of all the block's columns, before any elimination.
    singularColumns += choosePanelPivots(a, perm, n, first, end);
    tell(observer, LuStep::kPivots);
    // The block's panel: L and U of the diagonal block, the multipliers below, U to the right.
    eliminateBlockPanel(a, n, first, end, observer);
    if (end >= n) break;
    const int next = static_cast<int>(static_cast<long long>(end) + b < n ? end + b : n);
    if (!lookAhead || next >= n) {
      // s = L21 * U12 over the trailing region from zero, and the trailing submatrix minus s.
      runTrailingPass(a, a, s, a, n, TrailingRegion{end, n, end, n, first, end - first, 1, {}},
                      kernelInUse(trial), &trial);
      tell(observer, LuStep::kTrailingSweep);
      ib = end;
      continue;
    }
    // This block's update of the next block's columns, all rows below.
    updateNextBlockColumns(a, s, n, first, end, next, kernelInUse(trial));
    tell(observer, LuStep::kNextColumns);
    // The next block's pivots, chosen on those columns before any row moves.
    singularColumns += searchPanelPivots(a, n, end, next, pivotRows);
    tell(observer, LuStep::kPivots);
    // This block's update of the rows the next block owns or will move up, where they stand.
    const MovingRows moving = rowsMovedFromBelow(pivotRows, end, next);
    finishRowsBeforeTheyMove(a, s, n, first, end, next, moving, kernelInUse(trial));
    tell(observer, LuStep::kFinishedRows);
    // The next block's interchanges, then its panel.
    applyPanelInterchanges(a, perm, n, end, next, pivotRows);
    tell(observer, LuStep::kPivots);
    eliminateBlockPanel(a, n, end, next, observer);
    // Both blocks' updates of [next, n)^2 in one sweep.
    sweepTrailingSubmatrix(a, s, n, first, next, moving.finished(), trial);
    tell(observer, LuStep::kTrailingSweep);
    ib = next;
  }
  return singularColumns;
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
