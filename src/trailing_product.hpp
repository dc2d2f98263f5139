#pragma once

#include <algorithm>
#include <cstdint>

#include "linalg.hpp"
#include "tile_kernel.hpp"

// Entries of the packed right panels kept at once: 16 tiles of 32 x 32 (128 KiB) stay in the
// level-2 cache while every row tile passes over them.
inline constexpr int kPackedRightEntries = 16 * kTileEdge * kTileEdge;
// Longest inner range one pass over the tiles covers; a longer one takes several passes, each
// output entry carrying its running sum from one to the next.
inline constexpr int kMaxPassDepth = kPackedRightEntries / kTileEdge;

// The tile loop shared by cache1 and the fused trailing update, for vectors of Lanes doubles.
// For r, c in [start, n), with the products left[r][a] * right[a][c] over a in [first, start)
// added in increasing a:
//   update == nullptr:  out[r][c] += the products (cache1);
//   otherwise:          out[r][c] = +0 + the products, then update[r][c] -= out[r][c]
//                       (the scratch region zeroed, the product, and the trailing update).
// Nothing outside [start, n)^2 of out and update is written. Tiles are clipped at n. Requires
// 0 <= first < start < n; update must not overlap left, right or out within the region.
//
// The loops run over passes of the inner range, then groups of column tiles, then row tiles,
// then the column tiles of the group: each right panel is packed once per pass and group, each
// left panel once per pass, group and row tile. Each output entry receives its products in
// increasing a, so the sums are exactly those of the plain order, whatever the grouping.
template <int Lanes>
void runTrailingPass(const double* left, const double* right, double* out, double* update, int n,
                     int start, int first) {
  alignas(64) double packedLeft[kTileEdge * kMaxPassDepth];
  alignas(64) double packedRight[kPackedRightEntries];
  const bool fused = update != nullptr;
  // Streaming stores need every row of every whole tile vector-aligned in out.
  const bool outAligned =
      reinterpret_cast<std::uintptr_t>(out) % 64 == 0 && n % 8 == 0 && start % 8 == 0;
  bool streamed = false;
  for (int k0 = first, depth = 0; k0 < start; k0 += depth) {
    depth = std::min(kMaxPassDepth, start - k0);
    const bool firstPass = k0 == first;
    const bool lastPass = k0 + depth == start;
    const int groupTiles = std::max(1, kPackedRightEntries / (depth * kTileEdge));
    const int groupWidth = groupTiles * kTileEdge;
    for (int group = start; group < n; group += groupWidth) {
      const int groupEnd = std::min(group + groupWidth, n);
      // The group's whole column tiles, packed once for this pass.
      for (int jj = group, t = 0; jj + kTileEdge <= groupEnd; jj += kTileEdge, ++t) {
        packBlock(right, n, k0, jj, depth, kTileEdge, packedRight + t * depth * kTileEdge);
      }
      for (int ii = start, rows = 0; ii < n; ii += rows) {
        rows = std::min(kTileEdge, n - ii);
        if (rows == kTileEdge) packBlock(left, n, ii, k0, kTileEdge, depth, packedLeft);
        for (int jj = group, t = 0, cols = 0; jj < groupEnd; jj += cols, ++t) {
          cols = std::min(kTileEdge, groupEnd - jj);
          double* outTile = out + at(ii, jj, n);
          double* updateTile = fused && lastPass ? update + at(ii, jj, n) : nullptr;
          const bool startFromZero = fused && firstPass;
          if (rows < kTileEdge || cols < kTileEdge) {
            accumulateEdgeTile(left, right, out, fused && lastPass ? update : nullptr,
                               startFromZero, n, ii, rows, jj, cols, k0, depth);
            continue;
          }
          // The tile this one reads from memory: the matrix for a fresh scratch region, the
          // sums otherwise; and the one computed next, whose top rows are fetched meanwhile.
          const double* base = startFromZero ? update : out;
          const double* nextRead = nullptr;
          if (jj + 2 * kTileEdge <= groupEnd) {
            nextRead = base + at(ii, jj + kTileEdge, n);
          } else if (ii + 2 * kTileEdge <= n) {
            nextRead = base + at(ii + kTileEdge, group, n);
          }
          const TileTarget target{outTile, updateTile, startFromZero,
                                  fused && lastPass && outAligned, base + at(ii, jj, n)};
          streamed = streamed || target.streamOut;
          accumulateFullTile<Lanes>(packedLeft, packedRight + t * depth * kTileEdge, depth, target,
                                    n, nextRead);
        }
      }
    }
  }
  if (streamed) finishStreamingStores();
}
