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

// How many blocks from [first, first + b) on share one sweep: blocksPerSweep (at most
// kMaxBlocksPerSweep), fewer near the end, where the group's last block must not be the matrix's
// last (every block of a group is then b wide and its sweep has rows below it); 1 for no look-ahead.
inline int blocksInGroup(int first, int n, int b, int blocksPerSweep) {
  if (b > kMaxLookAheadBlock) return 1;
  const long long blocksLeft = (static_cast<long long>(n) - first + b - 1) / b;
  const int wanted = smallerOf(blocksPerSweep, kMaxBlocksPerSweep);
  return blocksLeft - 1 < wanted ? largerOf(1, static_cast<int>(blocksLeft - 1)) : largerOf(1, wanted);
}

// The block loop of blockedLu (timed_region.hpp), whole tiles of its trailing updates by the
// plan's kernels (each group's sweep over the trailing submatrix may try them, see KernelPlan;
// the other updates use the kernel in use), telling observer (may be null) after each step which
// step has just finished, so a caller can time the steps without a second copy of the loop.
// Returns the number of columns reported singular.
//
// Blocks go in groups of blocksPerSweep (see look_ahead.hpp): after each block's panel, its update
// of the group's later columns lets the next block choose its pivots without moving a row; the
// rows those interchanges move, and the group's own rows, then receive the rest of the updates
// so far; the interchanges are made and the next block's panel eliminated; one sweep over the
// rest of the matrix applies every block's update. After each group a, perm and s hold exactly
// what the blocks one at a time leave. Blocks deeper than kMaxLookAheadBlock, a block whose group
// would hold the last block alone, and every block when blocksPerSweep is 1 (for measuring what
// the look-ahead gains), run one trailing pass each.
inline int runBlockedLu(double* a, int* perm, double* s, int n, int b, const KernelPlan& plan,
                        StepObserver* observer, int blocksPerSweep) {
  if (n <= 0) return 0;
  if (b <= 0) {
    std::fprintf(stderr, "blockedLu: block size %d is not positive; the matrix is left as it is\n",
                 b);
    return 0;
  }
  // The next block's pivots are searched in one call, with its interchanges pending.
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
    const BlockGroup group{first, b, blocksInGroup(first, n, b, blocksPerSweep)};
    if (group.blocks == 1) {
      // s = L21 * U12 over the trailing region from zero, and the trailing submatrix minus s.
      runTrailingPass(a, a, s, a, n, TrailingRegion{end, n, end, n, first, end - first, 1, {}},
                      kernelInUse(trial), &trial);
      tell(observer, LuStep::kTrailingSweep);
      ib = end;
      continue;
    }
    MovingRows moving;
    for (int block = 1; block < group.blocks; ++block) {
      const int previous = group.begin(block - 1);
      const int blockBegin = group.begin(block);
      const int blockEnd = blockBegin + b;
      // The previous block's update of the group's later columns, all rows below it.
      updateNextBlockColumns(a, s, n, previous, blockBegin, group.end(), kernelInUse(trial));
      tell(observer, LuStep::kNextColumns);
      // This block's pivots, chosen on those columns before any row moves.
      singularColumns += searchPanelPivots(a, n, blockBegin, blockEnd, pivotRows);
      tell(observer, LuStep::kPivots);
      // The updates so far of the group's rows below the previous block and of the rows the
      // interchanges will move up from below the group, where they stand.
      const int listedBefore =
          listRowsMovedFromBelow(moving, pivotRows, blockBegin, blockEnd, group.end());
      finishRowsBeforeTheyMove(a, s, n, group, block, moving, listedBefore, kernelInUse(trial));
      tell(observer, LuStep::kFinishedRows);
      // This block's interchanges, then its panel.
      applyPanelInterchanges(a, perm, n, blockBegin, blockEnd, pivotRows);
      tell(observer, LuStep::kPivots);
      eliminateBlockPanel(a, n, blockBegin, blockEnd, observer);
    }
    // Every block's update of the rest of the matrix in one sweep.
    sweepTrailingSubmatrix(a, s, n, group, moving.finished(), trial);
    tell(observer, LuStep::kTrailingSweep);
    ib = group.end();
  }
  return singularColumns;
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
