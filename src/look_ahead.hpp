#pragma once

#include <cstdint>

#include "blocking.hpp"
#include "kernel_trial.hpp"
#include "matrix_index.hpp"
#include "path_routines.hpp"
#include "simd.hpp"
#include "trailing_product.hpp"

// The trailing updates of two consecutive blocks, K = [first, end) and K' = [end, next), shared by
// one sweep over the matrix. Block K's update is cut in three:
//   1. the columns of K' (updateNextBlockColumns), so that K' can choose its pivots;
//   2. the remaining columns of K''s own rows (finishNextBlockRows) and of the rows below that
//      K''s interchanges will move (finishRows), done before any of them moves: a row carries its
//      multipliers when it moves, but the scratch matrix does not move, so the row's products
//      must land where it stood;
//   3. everything else, in the sweep over [next, n)^2 that then adds K''s update
//      (sweepTrailingSubmatrix).
// Every entry of a and of the scratch matrix s receives the same rounded operations in the same
// order as when each block runs its own trailing pass. Whole tiles go through kernel.

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Block [first, end)'s trailing update restricted to columns [end, next), rows [end, n):
// s[r][c] = +0 + the block's products, then a[r][c] -= s[r][c]. Requires first < end < next <= n.
inline void updateNextBlockColumns(double* a, double* s, int n, int first, int end, int next,
                                   const TileKernel& kernel) {
  runTrailingPass(a, a, s, a, n, TrailingRegion{end, n, end, next, first, end - first, 1, {}},
                  kernel);
}

// Block [first, end)'s trailing update of the next block's rows [end, next), columns [next, n):
// s[r][c] = +0 + the block's products, then a[r][c] -= s[r][c]. Requires first < end < next < n.
inline void finishNextBlockRows(double* a, double* s, int n, int first, int end, int next,
                                const TileKernel& kernel) {
  runTrailingPass(a, a, s, a, n, TrailingRegion{end, next, next, n, first, end - first, 1, {}},
                  kernel);
}

// Block [first, end)'s trailing update of the rows at positions[0 .. count), columns [colBegin, n):
// s[r][c] = +0 + sum over l in [first, end) of a[r][l] * a[l][c] in increasing l, then
// a[r][c] -= s[r][c]. The rows are gathered kTileEdge at a time into a packed panel and run
// through the tile kernel into a small buffer, then scattered. Positions must be distinct rows
// >= end, at most kMaxLookAheadBlock of them; end - first <= kMaxLookAheadBlock; colBegin >= end.
inline void finishRows(double* a, double* s, int n, int first, int end, int colBegin,
                       const int* positions, int count, const TileKernel& kernel) {
  const int depth = end - first;
  const int panels = (count + kTileEdge - 1) / kTileEdge;
  alignas(64) double packedLeft[kMaxLookAheadBlock * kMaxLookAheadBlock];
  alignas(64) double packedRight[kMaxLookAheadBlock * kTileEdge];
  alignas(64) double products[kTileEdge * kTileEdge];
  // The scratch rows go around the cache where every whole tile's rows are vector-aligned.
  const bool streamed =
      reinterpret_cast<std::uintptr_t>(s) % 64 == 0 && n % 8 == 0 && colBegin % 8 == 0;
  // The listed rows' multipliers, kTileEdge rows a panel; the last panel's unused rows are zeros.
  for (int r = 0; r < panels * kTileEdge; ++r) {
    const double* row = r < count ? a + at(positions[r], first, n) : nullptr;
    for (int l = 0; l < depth; ++l) packedLeft[r * depth + l] = row != nullptr ? row[l] : 0.0;
  }
  for (int jj = colBegin; jj < n; jj += kTileEdge) {
    const int cols = smallerOf(kTileEdge, n - jj);
    // The block's rows of U over this column tile; columns past n are zeros.
    for (int l = 0; l < depth; ++l) {
      const double* upper = a + at(first + l, jj, n);
      for (int c = 0; c < kTileEdge; ++c)
        packedRight[l * kTileEdge + c] = c < cols ? upper[c] : 0.0;
    }
    for (int panel = 0; panel < panels; ++panel) {
      const TileTarget target{products, nullptr, true, false, nullptr, depth, 0};
      kernel.run(packedLeft + panel * kTileEdge * depth, packedRight, depth, target, kTileEdge,
                 nullptr);
      const int rows = smallerOf(kTileEdge, count - panel * kTileEdge);
      for (int r = 0; r < rows; ++r) {
        const int position = positions[panel * kTileEdge + r];
        const double* product = products + r * kTileEdge;
        double* scratchRow = s + at(position, jj, n);
        double* row = a + at(position, jj, n);
        if (streamed && cols == kTileEdge) {
          for (int c = 0; c < kTileEdge; c += kDoubleLanes) {
            streamVector<kDoubleLanes>(scratchRow + c, loadVector<kDoubleLanes>(product + c));
          }
        } else {
          for (int c = 0; c < cols; ++c) scratchRow[c] = product[c];
        }
        for (int c = 0; c < cols; ++c) row[c] = row[c] - product[c];
      }
    }
  }
  if (streamed) finishStreamingStores();
}

// The rows below block [end, next) that its interchanges (pivotRows[i] for column end + i) will
// move up, each once, in the order the pivot search found them.
struct MovingRows {
  int rows[kMaxLookAheadBlock];
  int count = 0;
  FinishedRows finished() const { return FinishedRows{rows, count}; }
};
inline MovingRows rowsMovedFromBelow(const int* pivotRows, int end, int next) {
  MovingRows moving;
  for (int i = 0; i < next - end; ++i) {
    const int p = pivotRows[i];
    bool listed = false;
    for (int k = 0; k < moving.count; ++k) listed = listed || moving.rows[k] == p;
    if (p >= next && !listed) moving.rows[moving.count++] = p;
  }
  return moving;
}

// Block [first, end)'s update of the rest of the next block's own rows and of the moving rows,
// where they stand now, before any of them moves (step 2 above).
inline void finishRowsBeforeTheyMove(double* a, double* s, int n, int first, int end, int next,
                                     const MovingRows& moving, const TileKernel& kernel) {
  finishNextBlockRows(a, s, n, first, end, next, kernel);
  finishRows(a, s, n, first, end, next, moving.rows, moving.count, kernel);
}

// The rest of both blocks' updates over [next, n)^2, tile by tile: for each entry, block
// [first, end)'s products from +0 stored to s and subtracted from a (except in the rows listed in
// finished, which finishRows has done), then block [end, next)'s the same way. a is read and
// written once; s receives both stores. Requires both blocks of equal width <= kMaxLookAheadBlock
// and next < n.
// The kernels come from trial (see runTrailingPass).
inline void sweepTrailingSubmatrix(double* a, double* s, int n, int first, int next,
                                   const FinishedRows& finished, KernelTrial& trial) {
  runTrailingPass(a, a, s, a, n, TrailingRegion{next, n, next, n, first, next - first, 2, finished},
                  kernelInUse(trial), &trial);
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
