#pragma once

#include <algorithm>
#include <cstdio>

#include "linalg.hpp"
#include "lu_steps.hpp"

// The steps of one pass of the block loop, in the order they run.
enum class LuStep {
  kPivots,         // pivot search and row interchanges
  kDiagonalBlock,  // L and U of the diagonal block
  kMultipliers,    // multipliers of the rows below the diagonal block
  kBlockRowOfU,    // rows of U to the right of the diagonal block
  kTrailingPass,   // scratch region zeroed, product, trailing submatrix minus the product
};
inline constexpr int kLuStepCount = 5;

// Readable name of each step, indexed by LuStep.
inline constexpr const char* kLuStepNames[kLuStepCount] = {
    "pivot search and interchanges", "diagonal block", "multipliers", "block row of U",
    "zeroing, product and trailing update"};
// Short key of each step for machine-readable output, indexed by LuStep.
inline constexpr const char* kLuStepKeys[kLuStepCount] = {"pivots", "diagonal_block", "multipliers",
                                                          "block_row_of_u", "trailing_pass"};

// Observer for runBlockedLu that records nothing; its calls compile to nothing.
struct NoStepObserver {
  void finished(LuStep) {}
};

// The block loop of blockedLu (see project.hpp for the full contract), telling observer after
// each step which step has just finished, so a caller can time the steps without a second copy
// of the loop. With NoStepObserver the loop is exactly blockedLu's. Returns the number of
// columns reported singular.
template <class StepObserver>
int runBlockedLu(double* a, int* perm, double* s, int n, int b, StepObserver& observer) {
  if (n <= 0) return 0;
  if (b <= 0) {
    std::fprintf(stderr, "blockedLu: block size %d is not positive; the matrix is left as it is\n",
                 b);
    return 0;
  }
  int singularColumns = 0;
  // Block bounds are formed in 64 bits so that ib + b cannot overflow for any b.
  for (long long ib = 0; ib < n; ib += b) {
    const int first = static_cast<int>(ib);
    const int end = static_cast<int>(std::min<long long>(ib + b, n));
    // Pivots of all the block's columns, before any elimination.
    singularColumns += choosePanelPivots(a, perm, n, first, end);
    observer.finished(LuStep::kPivots);
    // L and U of the diagonal block.
    eliminateDiagonalBlock(a, n, first, end);
    observer.finished(LuStep::kDiagonalBlock);
    // Multipliers of the rows below the diagonal block.
    computeMultipliers(a, n, first, end);
    observer.finished(LuStep::kMultipliers);
    // Rows of U to the right of the diagonal block.
    solveBlockRowOfU(a, n, first, end);
    observer.finished(LuStep::kBlockRowOfU);
    // s = L21 * U12 over the trailing region from zero, and the trailing submatrix minus s,
    // through cache1's tile loop and kernel, tile by tile.
    updateTrailingSubmatrix(a, s, n, first, end);
    observer.finished(LuStep::kTrailingPass);
  }
  return singularColumns;
}
