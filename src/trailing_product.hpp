#pragma once

#include "kernel_trial.hpp"
#include "path_namespace.hpp"
#include "path_routines.hpp"

// The tile loop: the middle layer between the block loop's steps and the kernels, which handles
// the packing, the edges and the segments.

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Bit r set when row first + r is listed in finished, for r in [0, rowCount) (rowCount <= 32).
inline std::uint32_t finishedRowMask(const FinishedRows& finished, int first, int rowCount) {
  std::uint32_t mask = 0;
  for (int i = 0; i < finished.count; ++i) {
    const int offset = finished.rows[i] - first;
    if (offset >= 0 && offset < rowCount) mask |= std::uint32_t{1} << offset;
  }
  return mask;
}

// The tile loop shared by cache1, the fused trailing update and the look-ahead sweep, with whole
// tiles by kernel and clipped ones by the edge kernel. For r in region's rows and c in its columns, with the products
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
//
// With a trial (may be null), the kernel comes from it instead, row of tiles by row of tiles:
// the pass begins with beginPass, and each row of whole tiles the trial hands a candidate is
// timed (in the first pass over the inner range and the first group only).
void runTrailingPass(const double* left, const double* right, double* out, double* update, int n,
                     const TrailingRegion& region, const TileKernel& kernel,
                     KernelTrial* trial = nullptr);

// The square case: rows and columns [start, n), inner range [first, start), one segment.
// Requires 0 <= first < start < n.
inline void runTrailingPass(const double* left, const double* right, double* out, double* update,
                            int n, int start, int first, const TileKernel& kernel) {
  runTrailingPass(left, right, out, update, n,
                  TrailingRegion{start, n, start, n, first, start - first, 1, {}}, kernel);
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
