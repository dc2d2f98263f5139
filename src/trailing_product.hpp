#pragma once

#include <algorithm>
#include <cstdint>

#include "blocking.hpp"
#include "tile_kernel.hpp"

// Rows of the output region whose segments but the last are already stored and subtracted (see
// TileTarget): at most a few dozen positions, in any order.
struct FinishedRows {
  const int* rows = nullptr;
  int count = 0;

  // Bit r set when row first + r is marked, for r in [0, rows) (rows <= 32).
  std::uint32_t maskOf(int first, int rowCount) const {
    std::uint32_t mask = 0;
    for (int i = 0; i < count; ++i) {
      const int offset = this->rows[i] - first;
      if (offset >= 0 && offset < rowCount) mask |= std::uint32_t{1} << offset;
    }
    return mask;
  }
};

// What one call of the tile loop computes: outputs [rowBegin, rowEnd) x [colBegin, colEnd), inner
// range [first, first + depth), cut into `segments` equal segments (one per block whose updates
// share the sweep; more than one only for the fused update, and then depth <= kMaxPassDepth).
struct TrailingRegion {
  int rowBegin, rowEnd;
  int colBegin, colEnd;
  int first, depth;
  int segments = 1;
  FinishedRows finished;
};

// The tile loop shared by cache1, the fused trailing update and the look-ahead sweep, for
// vectors of Lanes doubles. For r in region's rows and c in its columns, with the products
// left[r][a] * right[a][c] over the inner range added in increasing a:
//   update == nullptr:  out[r][c] += the products (cache1; one segment);
//   otherwise:          for each segment in order, out[r][c] = +0 + the segment's products,
//                       then update[r][c] -= out[r][c] (the scratch region zeroed, the product
//                       and the trailing update of each block in turn); finished rows take
//                       only the last segment.
// Nothing outside the region of out and update is written. Tiles are clipped at the region's
// edges. Requires a non-empty region and inner range within the n x n matrices; update must not
// overlap left, right or out within the region.
//
// The loops run over passes of the inner range, then groups of column tiles, then row tiles,
// then the column tiles of the group: each right panel is packed once per pass and group, each
// left panel once per pass, group and row tile. Each output entry receives its products in
// increasing a, so the sums are exactly those of the plain order, whatever the grouping.
template <int Lanes>
void runTrailingPass(const double* left, const double* right, double* out, double* update, int n,
                     const TrailingRegion& region) {
  alignas(64) double packedLeft[kTileEdge * kMaxPassDepth];
  alignas(64) double packedRight[kPackedRightEntries];
  const bool fused = update != nullptr;
  const int innerEnd = region.first + region.depth;
  const int segmentDepth = region.depth / region.segments;
  // Streaming stores need every row of every whole tile vector-aligned in out.
  const bool outAligned = reinterpret_cast<std::uintptr_t>(out) % 64 == 0 && n % 8 == 0 &&
                          region.colBegin % 8 == 0;
  bool streamed = false;
  for (int k0 = region.first, depth = 0; k0 < innerEnd; k0 += depth) {
    depth = std::min(kMaxPassDepth, innerEnd - k0);
    const bool firstPass = k0 == region.first;
    const bool lastPass = k0 + depth == innerEnd;
    const int passSegmentDepth = region.segments > 1 ? segmentDepth : depth;
    const int groupTiles = std::max(1, kPackedRightEntries / (depth * kTileEdge));
    const int groupWidth = groupTiles * kTileEdge;
    for (int group = region.colBegin; group < region.colEnd; group += groupWidth) {
      const int groupEnd = std::min(group + groupWidth, region.colEnd);
      // The group's whole column tiles, packed once for this pass.
      for (int jj = group, t = 0; jj + kTileEdge <= groupEnd; jj += kTileEdge, ++t) {
        packBlock(right, n, k0, jj, depth, kTileEdge, packedRight + t * depth * kTileEdge);
      }
      for (int ii = region.rowBegin, rows = 0; ii < region.rowEnd; ii += rows) {
        rows = std::min(kTileEdge, region.rowEnd - ii);
        if (rows == kTileEdge) packBlock(left, n, ii, k0, kTileEdge, depth, packedLeft);
        const std::uint32_t finishedRows = region.finished.maskOf(ii, rows);
        for (int jj = group, t = 0, cols = 0; jj < groupEnd; jj += cols, ++t) {
          cols = std::min(kTileEdge, groupEnd - jj);
          double* outTile = out + at(ii, jj, n);
          double* updateTile = fused && lastPass ? update + at(ii, jj, n) : nullptr;
          const bool startFromZero = fused && firstPass;
          if (rows < kTileEdge || cols < kTileEdge) {
            accumulateEdgeTile(left, right, out, fused && lastPass ? update : nullptr,
                               startFromZero, n, ii, rows, jj, cols, k0, depth, passSegmentDepth,
                               finishedRows);
            continue;
          }
          // The tile this one reads from memory: the matrix for a fresh scratch region, the
          // sums otherwise; and the one computed next, whose top rows are fetched meanwhile.
          const double* base = startFromZero ? update : out;
          const double* nextRead = nullptr;
          if (jj + 2 * kTileEdge <= groupEnd) {
            nextRead = base + at(ii, jj + kTileEdge, n);
          } else if (ii + 2 * kTileEdge <= region.rowEnd) {
            nextRead = base + at(ii + kTileEdge, group, n);
          }
          const TileTarget target{outTile,
                                  updateTile,
                                  startFromZero,
                                  fused && lastPass && outAligned,
                                  base + at(ii, jj, n),
                                  passSegmentDepth,
                                  finishedRows};
          streamed = streamed || target.streamOut;
          accumulateFullTile<Lanes>(packedLeft, packedRight + t * depth * kTileEdge, depth, target,
                                    n, nextRead);
        }
      }
    }
  }
  if (streamed) finishStreamingStores();
}

// The square case: rows and columns [start, n), inner range [first, start), one segment.
// Requires 0 <= first < start < n.
template <int Lanes>
void runTrailingPass(const double* left, const double* right, double* out, double* update, int n,
                     int start, int first) {
  runTrailingPass<Lanes>(left, right, out, update, n,
                         TrailingRegion{start, n, start, n, first, start - first, 1, {}});
}
