#pragma once

#include <cstddef>

#include "blocking.hpp"
#include "path_routines.hpp"
#include "register_block.hpp"
#include "simd.hpp"

// The row-band kernel: a whole tile in bands of rows, each band swept across the tile in
// register blocks of Rows x kVectors vectors, every block's sums stored back as soon as they are
// finished. At every width; the default of the paths with 16 vector registers.

namespace lubench::LUBENCH_PATH_NAMESPACE {

// The register block for each vector width: kVectors vectors across (a multiple of the lanes
// dividing the tile edge), and rows in bands of 6 and 5 (2 * 6 + 4 * 5 = kTileEdge). With 16
// vector registers, twelve or ten accumulators of two vectors hide the add latency and leave
// registers for the right row and the broadcast of the left entry; the 8-lane targets, which
// have 32, take four vectors across, a whole tile row.
template <int Lanes>
struct RowBandShape {
  static constexpr int kVectors = Lanes >= 8 ? 4 : 2;
  static constexpr int kColumns = kVectors * Lanes;
  static constexpr int kTallRows = 6;
  static constexpr int kTallBands = 2;
  static constexpr int kShortRows = 5;
  static_assert((kTileEdge - kTallRows * kTallBands) % kShortRows == 0);
  static_assert(kTileEdge % kColumns == 0);
};

// Rows [r, r + Rows) of a whole tile, across all its columns. Each register block also asks the
// cache for its columns of the next Rows rows of the tile it reads: the rest of this tile, then
// the top of nextRead (may be null), the tile the caller computes next. Rows are n apart and,
// when n is a multiple of a large power of two, share a few cache sets: a tile's 128 lines do
// not all fit in them at once, so prefetching a whole tile ahead evicts its own first half,
// while a band ahead stays resident and still covers the memory latency. The lines are asked for
// into the first-level cache, where the band's epilogue reads them. Prefetching affects speed
// only.
template <int Lanes, int Rows>
inline void accumulateRowBand(const double* packedLeft, const double* packedRight, int depth,
                              const TileTarget& target, std::size_t n, int r,
                              const double* nextRead) {
  using Shape = RowBandShape<Lanes>;
  for (int c = 0; c < kTileEdge; c += Shape::kColumns) {
    // The rows one band further down: the rest of this tile, then the top of the next one;
    // every 64-byte line of the block's columns.
    for (int k = r + Rows; k < r + 2 * Rows; ++k) {
      const double* tile = k < kTileEdge ? target.read : nextRead;
      if (tile == nullptr) continue;
      const double* row = tile + (k % kTileEdge) * n + c;
      for (int line = 0; line < Shape::kColumns; line += kDoublesPerLine) {
        __builtin_prefetch(row + line, 0, 3);
      }
    }
    accumulateRegisterBlock<Lanes, Rows, Shape::kVectors>(packedLeft + r * depth, packedRight + c,
                                                          depth, offsetTarget(target, n, r, c), n);
  }
}

// A whole tile in row bands (see WholeTileKernel): two bands of kTallRows, then bands of
// kShortRows.
template <int Lanes>
void accumulateTileInRowBands(const double* packedLeft, const double* packedRight, int depth,
                              const TileTarget& target, int n, const double* nextRead) {
  using Shape = RowBandShape<Lanes>;
  const std::size_t stride = static_cast<std::size_t>(n);
  int r = 0;
  for (int band = 0; band < Shape::kTallBands; ++band, r += Shape::kTallRows) {
    accumulateRowBand<Lanes, Shape::kTallRows>(packedLeft, packedRight, depth, target, stride, r,
                                               nextRead);
  }
  for (; r < kTileEdge; r += Shape::kShortRows) {
    accumulateRowBand<Lanes, Shape::kShortRows>(packedLeft, packedRight, depth, target, stride, r,
                                                nextRead);
  }
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
