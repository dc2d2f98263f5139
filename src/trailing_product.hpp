#pragma once

#include <algorithm>

#include "linalg.hpp"
#include "tile_kernel.hpp"

// Column tiles whose packed right tiles are kept at once: 16 tiles of 8 KiB stay in the level-2
// cache while every row tile passes over them.
inline constexpr int kPackedColumnTiles = 16;

// The tile loop of cache1 for vectors of Lanes doubles: for r, c in [start, n),
// out[r][c] += left[r][a] * right[a][c] over a in [first, start), in increasing a, in tiles of
// kTileEdge clipped at n and at start. Requires 0 <= first <= start.
//
// The loops run over groups of kPackedColumnTiles column tiles, then inner-range chunks, then
// row tiles, then the column tiles of the group: each right tile is packed once per group and
// each left tile once per group and chunk. Every output still receives its inner-range chunks
// in increasing order, so the sums are exactly those of the plain row-tile-first order.
template <int Lanes>
void accumulateTrailingProduct(const double* left, const double* right, double* out, int n,
                               int start, int first) {
  alignas(64) double packedLeft[kTileEdge * kTileEdge];
  alignas(64) double packedRight[kPackedColumnTiles][kTileEdge * kTileEdge];
  constexpr int kGroupWidth = kPackedColumnTiles * kTileEdge;
  for (int group = start; group < n; group += std::min(kGroupWidth, n - group)) {
    const int groupEnd = group + std::min(kGroupWidth, n - group);
    for (int kk = first, depth = 0; kk < start; kk += depth) {
      depth = std::min(kTileEdge, start - kk);
      // Pack the group's whole column tiles once for this chunk.
      for (int jj = group, t = 0; jj + kTileEdge <= groupEnd && depth == kTileEdge;
           jj += kTileEdge, ++t) {
        packTile(right, n, kk, jj, packedRight[t]);
      }
      for (int ii = start, rows = 0; ii < n; ii += rows) {
        rows = std::min(kTileEdge, n - ii);
        const bool wholeRows = rows == kTileEdge && depth == kTileEdge;
        if (wholeRows) packTile(left, n, ii, kk, packedLeft);
        for (int jj = group, t = 0, cols = 0; jj < groupEnd; jj += cols, ++t) {
          cols = std::min(kTileEdge, groupEnd - jj);
          if (wholeRows && cols == kTileEdge) {
            // The output tile computed next; its top rows are fetched during this one.
            const double* nextOut = nullptr;
            if (jj + 2 * kTileEdge <= groupEnd) {
              nextOut = out + at(ii, jj + kTileEdge, n);
            } else if (ii + 2 * kTileEdge <= n) {
              nextOut = out + at(ii + kTileEdge, group, n);
            }
            accumulateFullTile<Lanes>(packedLeft, packedRight[t], out, n, ii, jj, nextOut);
          } else {
            accumulateEdgeTile(left, right, out, n, ii, rows, jj, cols, kk, depth);
          }
        }
      }
    }
  }
}
