#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "blocking.hpp"
#include "look_ahead.hpp"
#include "lu_step.hpp"
#include "lu_steps.hpp"
#include "simd.hpp"
#include "trailing_product.hpp"

// Observer for runBlockedLu that records nothing; its calls compile to nothing.
struct NoStepObserver {
  void finished(LuStep) {}
};

// One block's panel after its interchanges: L and U of the diagonal block, the multipliers of the
// rows below it, the rows of U to its right.
template <class StepObserver>
void eliminateBlockPanel(double* a, int n, int first, int end, StepObserver& observer) {
  eliminateDiagonalBlock(a, n, first, end);
  observer.finished(LuStep::kDiagonalBlock);
  computeMultipliers(a, n, first, end);
  observer.finished(LuStep::kMultipliers);
  solveBlockRowOfU(a, n, first, end);
  observer.finished(LuStep::kBlockRowOfU);
}

// Blocked LU factorisation with row interchanges of the row-major n x n matrix a, in place, in
// column blocks of b. Each block [ib, end), end = min(ib + b, n), runs:
//   1. pivots of all its columns, chosen before any is eliminated (choosePanelPivots);
//   2. elimination within the diagonal block;
//   3. the multipliers of the rows below it;
//   4. the block row of U;
//   5. s's trailing region [end, n)^2 set to zero, then cache1(a, a, s, n, end, b, ib);
//   6. the trailing update a -= s over [end, n)^2
// (steps 5 and 6 run as one pass over the tiles, and two consecutive blocks share one such sweep
// with look-ahead, see runBlockedLu; a, perm and s end exactly as the steps in this order leave
// them, for any contents of s on entry).
// perm (n entries, normally the identity on entry) records the interchanges: perm[r] is the
// input row now at position r. On return a holds L (unit diagonal not stored) and U of the row-
// permuted input. A column whose pivot magnitude is zero is reported on standard output with
// "LUfactoration failed: coefficient matrix is singular"; the elimination still divides by the
// diagonal entry as it stands, so IEEE infinities and NaNs flow on. s is an n x n scratch matrix.
// Does nothing for n <= 0; for b <= 0 reports the bad block size on standard error and leaves
// everything untouched. The stack must allow kBlockLoopStackBytes.
void blockedLu(double* a, int* perm, double* s, int n, int b);

// The block loop of blockedLu with the trailing updates on
// vectors of Lanes doubles, telling observer after each step which step has just finished, so a
// caller can time the steps without a second copy of the loop. Returns the number of columns
// reported singular.
//
// Blocks go in pairs: block K = [first, end) and K' = [end, next). After K's panel, K's update
// of K''s columns lets K' choose its pivots without moving a row; the rows those interchanges
// move, and K''s own rows, then receive the rest of K's update; the interchanges are made and
// K''s panel eliminated; one sweep over [next, n)^2 applies both blocks' updates. After each pair
// a, perm and s hold exactly what the blocks one at a time leave. Blocks deeper than
// kMaxLookAheadBlock, a pair whose second block is the last, and every block when
// blocksPerSweep is 1 (for measuring what the look-ahead gains), run one trailing pass each.
template <int Lanes, class StepObserver>
int runBlockedLu(double* a, int* perm, double* s, int n, int b, StepObserver& observer,
                 int blocksPerSweep = 2) {
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
  // Block bounds are formed in 64 bits so that ib + b cannot overflow for any b.
  for (long long ib = 0; ib < n;) {
    const int first = static_cast<int>(ib);
    const int end = static_cast<int>(std::min<long long>(ib + b, n));
    // Pivots of all the block's columns, before any elimination.
    singularColumns += choosePanelPivots(a, perm, n, first, end);
    observer.finished(LuStep::kPivots);
    // The block's panel: L and U of the diagonal block, the multipliers below, U to the right.
    eliminateBlockPanel(a, n, first, end, observer);
    if (end >= n) break;
    const int next = static_cast<int>(std::min<long long>(static_cast<long long>(end) + b, n));
    if (!lookAhead || next >= n) {
      // s = L21 * U12 over the trailing region from zero, and the trailing submatrix minus s.
      runTrailingPass<Lanes>(a, a, s, a, n, end, first);
      observer.finished(LuStep::kTrailingSweep);
      ib = end;
      continue;
    }
    // This block's update of the next block's columns, all rows below.
    updateNextBlockColumns<Lanes>(a, s, n, first, end, next);
    observer.finished(LuStep::kNextColumns);
    // The next block's pivots, chosen on those columns before any row moves.
    singularColumns += searchPanelPivots(a, n, end, next, pivotRows);
    observer.finished(LuStep::kPivots);
    // This block's update of the rows the next block owns or will move up, where they stand.
    const MovingRows moving = rowsMovedFromBelow(pivotRows, end, next);
    finishRowsBeforeTheyMove<Lanes>(a, s, n, first, end, next, moving);
    observer.finished(LuStep::kFinishedRows);
    // The next block's interchanges, then its panel.
    applyPanelInterchanges(a, perm, n, end, next, pivotRows);
    observer.finished(LuStep::kPivots);
    eliminateBlockPanel(a, n, end, next, observer);
    // Both blocks' updates of [next, n)^2 in one sweep.
    sweepTrailingSubmatrix<Lanes>(a, s, n, first, next, moving.finished());
    observer.finished(LuStep::kTrailingSweep);
    ib = next;
  }
  return singularColumns;
}

template <class StepObserver>
int runBlockedLu(double* a, int* perm, double* s, int n, int b, StepObserver& observer) {
  return runBlockedLu<kDoubleLanes>(a, perm, s, n, b, observer);
}
