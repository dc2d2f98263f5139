#pragma once

#include <cstddef>
#include <cstdint>

#include "blocking.hpp"
#include "path_routines.hpp"
#include "register_block.hpp"
#include "simd.hpp"

// The pipelined kernel of the widest vectors, which have 32 registers: register blocks of
// 3 rows x 4 vectors down a tile (ten of them, then one of the remaining 2 rows), each block's 12
// finished sums written back one vector per step of the next block's inner loop, so that the
// stores and the matrix update run beside the arithmetic instead of in a burst. 12 sums, 12
// pending sums, 4 right vectors, a broadcast and a temporary fit in the 32 registers.

namespace lubench::LUBENCH_PATH_NAMESPACE {

inline constexpr int kPipelineMinLanes = 8;
inline constexpr int kPipelineRows = 3;
inline constexpr int kPipelineVectors = 4;
inline constexpr int kPipelineSums = kPipelineRows * kPipelineVectors;
inline constexpr int kPipelineLastRows = kTileEdge % kPipelineRows;
static_assert(kPipelineLastRows > 0 && kPipelineVectors * kPipelineMinLanes == kTileEdge);

// One register block's finished sums waiting to be written back: to out (streamed when Stream)
// and, when Update, subtracted from update, entry by entry in that order, exactly as
// accumulateRegisterBlock writes them; only the time moves. Rows whose bit is set in skip
// (finished rows before their last segment) are not written.
template <int Lanes>
struct PendingSums {
  DoubleVector<Lanes> sums[kPipelineSums] = {};
  double* out = nullptr;
  double* update = nullptr;
  std::uint32_t skip = 0;
};

// Writes back pending sum i (row i / kPipelineVectors, vector i % kPipelineVectors).
template <int Lanes, bool Stream, bool Update>
inline void writeBackPending(const PendingSums<Lanes>& pending, int i, std::size_t n) {
  const int row = i / kPipelineVectors;
  const int v = i % kPipelineVectors;
  if ((pending.skip >> row & 1u) != 0) return;
  double* out = pending.out + row * n + v * Lanes;
  if constexpr (Stream) {
    streamVector<Lanes>(out, pending.sums[i]);
  } else {
    storeVector<Lanes>(out, pending.sums[i]);
  }
  if constexpr (Update) {
    double* entry = pending.update + row * n + v * Lanes;
    storeVector<Lanes>(entry, loadVector<Lanes>(entry) - pending.sums[i]);
  }
}

// accumulateRegisterBlock's work for a Rows x kPipelineVectors block, with the write-back moved:
// the first Pending steps of each segment's inner loop each write back one of pending's sums
// (all of them before the loop when a segment is shorter), and the segment's own sums become
// pending, for the next segment or the next block. Every entry still gets its segments' stores
// and subtractions in segment order, and nothing here reads an entry pending holds. Pending is
// 0 for a tile's first block, which has nothing to write back.
template <int Lanes, int Rows, int Pending, bool Stream, bool Update>
inline void accumulatePipelinedBlock(const double* packedLeft, const double* packedRight,
                                     int depth, const TileTarget& target, std::size_t n,
                                     PendingSums<Lanes>& pending) {
  using Vector = DoubleVector<Lanes>;
  constexpr int Vectors = kPipelineVectors;
  for (int segment = 0; segment < depth; segment += target.segmentDepth) {
    const bool lastSegment = segment + target.segmentDepth >= depth;
    const int end = segment + target.segmentDepth;
    const bool drainFirst = segment > 0 || Pending > 0;
    Vector acc[Rows][Vectors];
    startSums<Lanes>(acc, target, segment, n);
    const auto step = [&](int a) { addProducts<Lanes>(acc, packedLeft, packedRight, depth, a); };
    // What is pending: the previous block's sums (first segment), or this block's previous
    // segment's.
    constexpr int kOwn = Rows * Vectors;
    constexpr int kWaiting = Pending > kOwn ? Pending : kOwn;
    int a = segment;
    if (drainFirst && target.segmentDepth >= kWaiting) {
      // One pending sum written back per step; every index a constant once unrolled.
#pragma GCC unroll 16
      for (int i = 0; i < kWaiting; ++i) {
        step(a + i);
        if (i < (segment > 0 ? kOwn : Pending)) {
          writeBackPending<Lanes, Stream, Update>(pending, i, n);
        }
      }
      a += kWaiting;
    } else if (drainFirst) {
#pragma GCC unroll 16
      for (int i = 0; i < kWaiting; ++i) {
        if (i < (segment > 0 ? kOwn : Pending)) {
          writeBackPending<Lanes, Stream, Update>(pending, i, n);
        }
      }
    }
    for (; a < end; ++a) step(a);
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r) {
#pragma GCC unroll 8
      for (int v = 0; v < Vectors; ++v) pending.sums[r * Vectors + v] = acc[r][v];
    }
    pending.out = target.out;
    pending.update = target.update;
    // A finished row already holds every segment's store and subtraction but the last.
    pending.skip = lastSegment ? 0u : target.finishedRows;
  }
}

// A whole tile in register blocks of kPipelineRows x kPipelineVectors, each block's write-back
// hidden in the next one's steps (accumulatePipelinedBlock), the tile's last block written back
// at its end; with the same band prefetch as accumulateRowBand.
template <int Lanes, bool Stream, bool Update>
inline void accumulatePipelinedTile(const double* packedLeft, const double* packedRight, int depth,
                                    const TileTarget& target, std::size_t n,
                                    const double* nextRead) {
  PendingSums<Lanes> pending;
  const auto prefetchBand = [&](int r, int rows) {
    for (int k = r + rows; k < r + 2 * rows; ++k) {
      const double* tile = k < kTileEdge ? target.read : nextRead;
      if (tile == nullptr) continue;
      const double* row = tile + (k % kTileEdge) * n;
      for (int line = 0; line < kTileEdge; line += kDoublesPerLine) {
        __builtin_prefetch(row + line, 0, 3);
      }
    }
  };
  prefetchBand(0, kPipelineRows);
  accumulatePipelinedBlock<Lanes, kPipelineRows, 0, Stream, Update>(
      packedLeft, packedRight, depth, target, n, pending);
  int r = kPipelineRows;
  for (; r + kPipelineRows <= kTileEdge; r += kPipelineRows) {
    prefetchBand(r, kPipelineRows);
    accumulatePipelinedBlock<Lanes, kPipelineRows, kPipelineSums, Stream, Update>(
        packedLeft + r * depth, packedRight, depth, offsetTarget(target, n, r, 0), n, pending);
  }
  prefetchBand(r, kPipelineLastRows);
  accumulatePipelinedBlock<Lanes, kPipelineLastRows, kPipelineSums, Stream, Update>(
      packedLeft + r * depth, packedRight, depth, offsetTarget(target, n, r, 0), n, pending);
#pragma GCC unroll 16
  for (int i = 0; i < kPipelineLastRows * kPipelineVectors; ++i) {
    writeBackPending<Lanes, Stream, Update>(pending, i, n);
  }
}

// A whole tile in pipelined register blocks (see WholeTileKernel); 8 lanes only. Streaming
// stores only ever come with the matrix update (the fused pass's last pass).
template <int Lanes>
void accumulateTilePipelined(const double* packedLeft, const double* packedRight, int depth,
                             const TileTarget& target, int n, const double* nextRead) {
  static_assert(Lanes >= kPipelineMinLanes, "4 vectors of Lanes must span the tile");
  const std::size_t stride = static_cast<std::size_t>(n);
  if (target.update == nullptr) {
    accumulatePipelinedTile<Lanes, false, false>(packedLeft, packedRight, depth, target, stride,
                                                 nextRead);
  } else if (target.streamOut) {
    accumulatePipelinedTile<Lanes, true, true>(packedLeft, packedRight, depth, target, stride,
                                               nextRead);
  } else {
    accumulatePipelinedTile<Lanes, false, true>(packedLeft, packedRight, depth, target, stride,
                                                nextRead);
  }
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
