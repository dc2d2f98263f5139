#pragma once

#include <cstdint>

#include "blocking.hpp"
#include "kernel_trial.hpp"
#include "matrix_index.hpp"
#include "path_routines.hpp"
#include "simd.hpp"
#include "trailing_product.hpp"

// The trailing updates of a group of consecutive blocks of equal width, K1 ... KG (G >= 2) over
// [groupFirst, groupEnd), shared by one sweep over the matrix below and to the right of the group.
// After each block Kj's panel (j < G), its update is cut in three:
//   1. the columns of the group's later blocks, all rows below Kj (updateNextBlockColumns), so
//      that K(j+1) can choose its pivots;
//   2. the columns right of the group in the group's rows below Kj (finishNextBlockRows), and in
//      the rows below the group that K(j+1)'s interchanges will move up (finishRows), done before
//      any of them moves: a row carries its multipliers when it moves, but the scratch matrix does
//      not move, so the row's products must land where it stood. A position below the group is
//      listed once the first interchange touches it; from then on it takes each later block's
//      update here as well, so every listed position holds K1 ... K(G-1)'s updates by the sweep;
//   3. everything else, in the sweep over [groupEnd, n)^2 that also adds KG's update, in which the
//      listed positions take KG's alone (sweepTrailingSubmatrix).
// Every entry of a and of the scratch matrix s receives the same rounded operations in the same
// order as when each block runs its own trailing pass. Whole tiles go through kernel.

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Block [first, end)'s trailing update restricted to columns [end, groupEnd), rows [end, n):
// s[r][c] = +0 + the block's products, then a[r][c] -= s[r][c]. Requires
// first < end < groupEnd <= n.
inline void updateNextBlockColumns(double* a, double* s, int n, int first, int end, int groupEnd,
                                   const TileKernel& kernel) {
  runTrailingPass(a, a, s, a, n, TrailingRegion{end, n, end, groupEnd, first, end - first, 1, {}},
                  kernel);
}

// Block [first, end)'s trailing update of the group's rows below it, [end, groupEnd), columns
// [groupEnd, n): s[r][c] = +0 + the block's products, then a[r][c] -= s[r][c]. Requires
// first < end < groupEnd < n.
inline void finishNextBlockRows(double* a, double* s, int n, int first, int end, int groupEnd,
                                const TileKernel& kernel) {
  runTrailingPass(a, a, s, a, n,
                  TrailingRegion{end, groupEnd, groupEnd, n, first, end - first, 1, {}}, kernel);
}

// Block [first, end)'s trailing update of the rows at positions[0 .. count), columns [colBegin, n):
// s[r][c] = +0 + sum over l in [first, end) of a[r][l] * a[l][c] in increasing l, then
// a[r][c] -= s[r][c]. The rows are gathered kTileEdge at a time into a packed panel and run
// through the tile kernel into a small buffer, then scattered. Positions must be distinct rows
// >= end, at most kMaxLookAheadBlock of them; end - first <= kMaxLookAheadBlock; colBegin >= end.
inline void finishRowChunk(double* a, double* s, int n, int first, int end, int colBegin,
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

// finishRowChunk for any number of distinct positions, kMaxLookAheadBlock at a time (each row's
// entries are independent of the others').
inline void finishRows(double* a, double* s, int n, int first, int end, int colBegin,
                       const int* positions, int count, const TileKernel& kernel) {
  for (int done = 0; done < count; done += kMaxLookAheadBlock) {
    finishRowChunk(a, s, n, first, end, colBegin, positions + done,
                   smallerOf(kMaxLookAheadBlock, count - done), kernel);
  }
}

// The positions below a group that its blocks' interchanges have moved rows out of (or will, for
// the block whose pivots were found last), each listed once, in the order found.
struct MovingRows {
  int rows[kMaxMovingRows];
  int count = 0;
  FinishedRows finished() const { return FinishedRows{rows, count}; }
};

// Appends to moving the positions at or below groupEnd that block [blockBegin, blockEnd)'s
// interchanges (pivotRows[i] for column blockBegin + i) touch and that it does not list yet.
// Returns how many it listed before.
inline int listRowsMovedFromBelow(MovingRows& moving, const int* pivotRows, int blockBegin,
                                  int blockEnd, int groupEnd) {
  const int listedBefore = moving.count;
  for (int i = 0; i < blockEnd - blockBegin; ++i) {
    const int p = pivotRows[i];
    bool listed = false;
    for (int k = 0; k < moving.count; ++k) listed = listed || moving.rows[k] == p;
    if (p >= groupEnd && !listed) moving.rows[moving.count++] = p;
  }
  return listedBefore;
}

// The blocks of a group: block j (from 0) is [first + j * width, first + (j + 1) * width), and
// the group ends at first + blocks * width.
struct BlockGroup {
  int first, width, blocks;
  int begin(int j) const { return first + j * width; }
  int end() const { return first + blocks * width; }
};

// Step 2 above before block `block` of group (>= 1) makes its interchanges, where the rows stand:
// block - 1's update of the group's rows below it, columns right of the group; and of the
// positions in moving, columns right of the group, after the earlier blocks' updates of the
// positions listed from listedBefore on, which no interchange has touched before.
inline void finishRowsBeforeTheyMove(double* a, double* s, int n, const BlockGroup& group,
                                     int block, const MovingRows& moving, int listedBefore,
                                     const TileKernel& kernel) {
  const int groupEnd = group.end();
  const int previous = group.begin(block - 1);
  finishNextBlockRows(a, s, n, previous, group.begin(block), groupEnd, kernel);
  for (int j = 0; j < block - 1; ++j) {
    finishRows(a, s, n, group.begin(j), group.begin(j + 1), groupEnd, moving.rows + listedBefore,
               moving.count - listedBefore, kernel);
  }
  finishRows(a, s, n, previous, group.begin(block), groupEnd, moving.rows, moving.count, kernel);
}

// The rest of the group's updates over [groupEnd, n)^2, tile by tile: for each entry, each block's
// products from +0 stored to s and subtracted from a, block after block, except in the rows listed
// in finished, which take the last block's alone (finishRows has done the others). a is read and
// written once; s receives every block's stores. Requires group.blocks <= kMaxBlocksPerSweep,
// group.width <= kMaxLookAheadBlock and group.end() < n. The kernels come from trial (see
// runTrailingPass).
inline void sweepTrailingSubmatrix(double* a, double* s, int n, const BlockGroup& group,
                                   const FinishedRows& finished, KernelTrial& trial) {
  const int groupEnd = group.end();
  runTrailingPass(a, a, s, a, n,
                  TrailingRegion{groupEnd, n, groupEnd, n, group.first, groupEnd - group.first,
                                 group.blocks, finished},
                  kernelInUse(trial), &trial);
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
