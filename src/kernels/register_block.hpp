#pragma once

#include <cstddef>

#include "blocking.hpp"
#include "path_routines.hpp"
#include "simd.hpp"

// The pieces every register-blocked kernel for whole tiles is built of. In each of them every
// output entry is a running sum that starts from its value in out (or from +0 for a fresh scratch
// region) and adds the rounded products left[r][a] * right[a][c] one at a time in increasing a;
// work is spread over independent outputs only, so results depend neither on the register shape
// nor on the vector width.

namespace lubench::LUBENCH_PATH_NAMESPACE {

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

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
