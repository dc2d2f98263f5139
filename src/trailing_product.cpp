#include "trailing_product.hpp"

#include <cstdint>

#include "blocking.hpp"
#include "kernels/edge_tile.hpp"
#include "matrix_index.hpp"
#include "simd.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

namespace {

// Copies the rows x cols block of m at (r0, c0) into packed, row stride cols, so the kernel
// reads it from contiguous memory: rows n apart would share cache sets when n is a multiple of
// a large power of two.
inline void packBlock(const double* m, int n, int r0, int c0, int rows, int cols, double* packed) {
  for (int r = 0; r < rows; ++r) {
    const double* row = m + at(r0 + r, c0, n);
    for (int c = 0; c < cols; ++c) packed[r * cols + c] = row[c];
  }
}

}  // namespace

void runTrailingPass(const double* left, const double* right, double* out, double* update, int n,
                     const TrailingRegion& region, const TileKernel& kernel,
                     KernelTrial* trial) {
  alignas(64) double packedLeft[kTileEdge * kMaxPassDepth];
  alignas(64) double packedRight[kPackedRightEntries];
  const bool fused = update != nullptr;
  const int innerEnd = region.first + region.depth;
  const int segmentDepth = region.depth / region.segments;
  // Streaming stores need every row of every whole tile vector-aligned in out.
  const bool outAligned = reinterpret_cast<std::uintptr_t>(out) % 64 == 0 && n % 8 == 0 &&
                          region.colBegin % 8 == 0;
  bool streamed = false;
  // Columns whose right panels one pass of depth packs at once: a group of whole column tiles.
  const auto groupWidthAt = [](int depth) {
    return largerOf(1, kPackedRightEntries / (depth * kTileEdge)) * kTileEdge;
  };
  if (trial != nullptr) {
    // The trial times rows of tiles of the first pass's first group.
    const int timedColumns = smallerOf(groupWidthAt(smallerOf(kMaxPassDepth, region.depth)),
                                       region.colEnd - region.colBegin);
    beginPass(*trial, region.rowEnd - region.rowBegin, timedColumns, region.depth);
  }
  for (int k0 = region.first, depth = 0; k0 < innerEnd; k0 += depth) {
    depth = smallerOf(kMaxPassDepth, innerEnd - k0);
    const bool firstPass = k0 == region.first;
    const bool lastPass = k0 + depth == innerEnd;
    const int passSegmentDepth = region.segments > 1 ? segmentDepth : depth;
    const int groupWidth = groupWidthAt(depth);
    for (int group = region.colBegin; group < region.colEnd; group += groupWidth) {
      const int groupEnd = smallerOf(group + groupWidth, region.colEnd);
      // The group's whole column tiles, packed once for this pass.
      for (int jj = group, t = 0; jj + kTileEdge <= groupEnd; jj += kTileEdge, ++t) {
        packBlock(right, n, k0, jj, depth, kTileEdge, packedRight + t * depth * kTileEdge);
      }
      for (int ii = region.rowBegin, rows = 0, row = 0; ii < region.rowEnd; ii += rows, ++row) {
        rows = smallerOf(kTileEdge, region.rowEnd - ii);
        // The kernel of this row of tiles; a row the trial hands a candidate is timed.
        const bool timed = trial != nullptr && trial->trying && rows == kTileEdge;
        const TileKernel& rowKernel = trial == nullptr ? kernel : kernelForRow(*trial, row);
        const long long rowStart = timed ? trialClock(*trial) : 0;
        if (rows == kTileEdge) packBlock(left, n, ii, k0, kTileEdge, depth, packedLeft);
        const std::uint32_t finishedRows = finishedRowMask(region.finished, ii, rows);
        for (int jj = group, t = 0, cols = 0; jj < groupEnd; jj += cols, ++t) {
          cols = smallerOf(kTileEdge, groupEnd - jj);
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
          rowKernel.run(packedLeft, packedRight + t * depth * kTileEdge, depth, target, n,
                        nextRead);
        }
        if (timed) rowFinished(*trial, row, trialClock(*trial) - rowStart);
      }
    }
  }
  if (streamed) finishStreamingStores();
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
