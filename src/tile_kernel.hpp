#pragma once

#include <cstddef>
#include <cstdint>

#include "blocking.hpp"
#include "matrix_index.hpp"
#include "simd.hpp"

// Kernels of the trailing pass. In every one of them each output entry is a running sum that
// starts from its value in out (or from +0 for a fresh scratch region) and adds the rounded
// products left[r][a] * right[a][c] one at a time in increasing a; work is spread over
// independent outputs only, so results do not depend on the tiling or on the vector width.

// Where the sums of one output tile start and where they go. cache1 reads and writes out; the
// fused trailing update starts from +0 on its first pass over the inner range, stores each
// finished sum in the scratch matrix out and subtracts it from the matrix entry in update.
//
// The inner range may be cut into equal segments, one per block of the factorisation whose
// updates share this sweep: each segment's sums start from +0 and are stored and subtracted on
// their own, in segment order, so every entry sees exactly the stores and subtractions of the
// blocks one after the other. Rows marked in finishedRows have had every segment but the last
// stored and subtracted already; for them only the last segment is stored.
struct TileTarget {
  double* out;         // the tile's top-left entry; rows n apart
  double* update;      // null, or the top-left entry of the tile that out is subtracted from
  bool startFromZero;  // sums start from +0 instead of from out
  bool streamOut;      // out is written around the cache (its rows are vector-aligned)
  const double* read;  // the tile the sums read from memory (for prefetching); may be null
  int segmentDepth;    // inner steps per segment; the whole depth when there is one segment
  std::uint32_t finishedRows;  // bit r: the tile's row r only takes the last segment's stores
};

// Any tile up to kTileEdge on each side, in plain scalar code: for r in [r0, r0+rows),
// c in [c0, c0+cols), a in [k0, k0+depth), with the target's segments, zeroing and update done
// with the same scalar operations as the separate steps. finishedRows' bit r marks row r0 + r
// (see TileTarget). Used for the clipped tiles at the matrix edges.
inline void accumulateEdgeTile(const double* left, const double* right, double* out, double* update,
                               bool startFromZero, int n, int r0, int rows, int c0, int cols,
                               int k0, int depth, int segmentDepth, std::uint32_t finishedRows) {
  for (int r = r0; r < r0 + rows; ++r) {
    double* outRow = out + at(r, c0, n);
    const double* leftRow = left + at(r, k0, n);
    for (int segment = 0; segment < depth; segment += segmentDepth) {
      const bool lastSegment = segment + segmentDepth >= depth;
      if (!lastSegment && (finishedRows >> (r - r0) & 1u) != 0) continue;
      double acc[kTileEdge];
      for (int c = 0; c < cols; ++c) acc[c] = startFromZero || segment > 0 ? 0.0 : outRow[c];
      for (int a = segment; a < segment + segmentDepth; ++a) {
        const double l = leftRow[a];
        const double* rightRow = right + at(k0 + a, c0, n);
        for (int c = 0; c < cols; ++c) acc[c] = acc[c] + l * rightRow[c];
      }
      for (int c = 0; c < cols; ++c) outRow[c] = acc[c];
      if (update != nullptr) {
        double* updateRow = update + at(r, c0, n);
        for (int c = 0; c < cols; ++c) updateRow[c] = updateRow[c] - acc[c];
      }
    }
  }
}

// A register block's sums as a segment starts: +0, or (cache1's first segment) the outputs.
template <int Lanes, int Rows, int Vectors>
inline void startSums(DoubleVector<Lanes> (&acc)[Rows][Vectors], const TileTarget& target,
                      int segment, std::size_t n) {
#pragma GCC unroll 16
  for (int r = 0; r < Rows; ++r) {
#pragma GCC unroll 8
    for (int v = 0; v < Vectors; ++v) {
      acc[r][v] = target.startFromZero || segment > 0
                      ? broadcast<Lanes>(0.0)
                      : loadVector<Lanes>(target.out + r * n + v * Lanes);
    }
  }
}

// One step a of the inner range for a register block: each left entry broadcast, each row of the
// packed right panel loaded once, every sum given its rounded product.
template <int Lanes, int Rows, int Vectors>
inline void addProducts(DoubleVector<Lanes> (&acc)[Rows][Vectors], const double* packedLeft,
                        const double* packedRight, int depth, int a) {
  using Vector = DoubleVector<Lanes>;
  Vector rightRow[Vectors];
#pragma GCC unroll 8
  for (int v = 0; v < Vectors; ++v) {
    rightRow[v] = loadVector<Lanes>(packedRight + a * kTileEdge + v * Lanes);
  }
#pragma GCC unroll 16
  for (int r = 0; r < Rows; ++r) {
    const Vector l = broadcast<Lanes>(packedLeft[r * depth + a]);
#pragma GCC unroll 8
    for (int v = 0; v < Vectors; ++v) acc[r][v] = acc[r][v] + l * rightRow[v];
  }
}

// Register block of Rows x (Vectors * Lanes) outputs over the inner range [0, depth), segment by
// segment (see TileTarget): the accumulators stay in registers, each left entry is broadcast,
// each row of the packed right panel is loaded once per step of a. target's pointers are at the
// block's top-left entry, row stride n, and its finishedRows at the block's first row; packedLeft
// has row stride depth, packedRight row stride kTileEdge. The loops over rows and vectors are
// unrolled by request, so acc lives in registers at every optimisation level: GCC unrolls them by
// itself only at -O3, and at -O2 kept acc in memory.
template <int Lanes, int Rows, int Vectors>
inline void accumulateRegisterBlock(const double* packedLeft, const double* packedRight, int depth,
                                    const TileTarget& target, std::size_t n) {
  using Vector = DoubleVector<Lanes>;
  for (int segment = 0; segment < depth; segment += target.segmentDepth) {
    const bool lastSegment = segment + target.segmentDepth >= depth;
    Vector acc[Rows][Vectors];
    startSums<Lanes>(acc, target, segment, n);
    for (int a = segment; a < segment + target.segmentDepth; ++a) {
      addProducts<Lanes>(acc, packedLeft, packedRight, depth, a);
    }
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r) {
      // A finished row already holds this segment's store and subtraction.
      if (!lastSegment && (target.finishedRows >> r & 1u) != 0) continue;
#pragma GCC unroll 8
      for (int v = 0; v < Vectors; ++v) {
        double* out = target.out + r * n + v * Lanes;
        if (target.streamOut) {
          streamVector<Lanes>(out, acc[r][v]);
        } else {
          storeVector<Lanes>(out, acc[r][v]);
        }
      }
      if (target.update == nullptr) continue;
#pragma GCC unroll 8
      for (int v = 0; v < Vectors; ++v) {
        double* entry = target.update + r * n + v * Lanes;
        storeVector<Lanes>(entry, loadVector<Lanes>(entry) - acc[r][v]);
      }
    }
  }
}

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

// Copies the rows x cols block of m at (r0, c0) into packed, row stride cols, so the kernel
// reads it from contiguous memory: rows n apart would share cache sets when n is a multiple of
// a large power of two.
inline void packBlock(const double* m, int n, int r0, int c0, int rows, int cols, double* packed) {
  for (int r = 0; r < rows; ++r) {
    const double* row = m + at(r0 + r, c0, n);
    for (int c = 0; c < cols; ++c) packed[r * cols + c] = row[c];
  }
}

// The target moved down by rows and right by cols within its tile.
inline TileTarget offsetTarget(const TileTarget& target, std::size_t n, int rows, int cols) {
  TileTarget moved = target;
  const std::size_t offset = rows * n + cols;
  moved.out += offset;
  if (moved.update != nullptr) moved.update += offset;
  if (moved.read != nullptr) moved.read += offset;
  moved.finishedRows >>= rows;
  return moved;
}

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
  using Shape = RegisterBlockShape<Lanes>;
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

// A whole kTileEdge x kTileEdge output tile over the inner range [0, depth): packedLeft is the
// tile's kTileEdge x depth panel of left and packedRight the depth x kTileEdge panel of right,
// as packBlock copies them. nextRead (may be null) is the tile to prefetch for the caller's next
// call.
template <int Lanes>
inline void accumulateFullTile(const double* packedLeft, const double* packedRight, int depth,
                               const TileTarget& target, int n, const double* nextRead) {
  using Shape = RegisterBlockShape<Lanes>;
  const std::size_t stride = static_cast<std::size_t>(n);
  if constexpr (Lanes >= kPipelineMinLanes) {
    // Streaming stores only ever come with the matrix update (the fused pass's last pass).
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
    return;
  }
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
