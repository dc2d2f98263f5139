#pragma once

#include <cstddef>

#include "linalg.hpp"
#include "matrix_index.hpp"
#include "simd.hpp"

// Kernels of the trailing product out += left * right. In every one of them each output entry
// is a running sum that starts from its value in out and adds the rounded products
// left[r][a] * right[a][c] one at a time in increasing a; work is spread over independent
// outputs only, so results do not depend on the tiling or on the vector width.

// Any tile up to kTileEdge on each side, in plain scalar code: for r in [r0, r0+rows),
// c in [c0, c0+cols), a in [k0, k0+depth). Used for the clipped tiles at the matrix edges.
inline void accumulateEdgeTile(const double* left, const double* right, double* out, int n, int r0,
                               int rows, int c0, int cols, int k0, int depth) {
  for (int r = r0; r < r0 + rows; ++r) {
    double acc[kTileEdge];
    double* outRow = out + at(r, c0, n);
    for (int c = 0; c < cols; ++c) acc[c] = outRow[c];
    const double* leftRow = left + at(r, k0, n);
    for (int a = 0; a < depth; ++a) {
      const double l = leftRow[a];
      const double* rightRow = right + at(k0 + a, c0, n);
      for (int c = 0; c < cols; ++c) acc[c] = acc[c] + l * rightRow[c];
    }
    for (int c = 0; c < cols; ++c) outRow[c] = acc[c];
  }
}

// Register block of Rows x (Vectors * Lanes) outputs over the full depth kTileEdge: the
// accumulators stay in registers, each left entry is broadcast, each row of the packed right
// tile is loaded once per step of a. out has row stride n; packedLeft and packedRight have row
// stride kTileEdge.
template <int Lanes, int Rows, int Vectors>
inline void accumulateRegisterBlock(const double* packedLeft, const double* packedRight,
                                    double* out, std::size_t n) {
  using Vector = DoubleVector<Lanes>;
  Vector acc[Rows][Vectors];
  for (int r = 0; r < Rows; ++r) {
    for (int v = 0; v < Vectors; ++v) acc[r][v] = loadVector<Lanes>(out + r * n + v * Lanes);
  }
  for (int a = 0; a < kTileEdge; ++a) {
    Vector rightRow[Vectors];
    for (int v = 0; v < Vectors; ++v) {
      rightRow[v] = loadVector<Lanes>(packedRight + a * kTileEdge + v * Lanes);
    }
    for (int r = 0; r < Rows; ++r) {
      const Vector l = broadcast<Lanes>(packedLeft[r * kTileEdge + a]);
      for (int v = 0; v < Vectors; ++v) acc[r][v] = acc[r][v] + l * rightRow[v];
    }
  }
  for (int r = 0; r < Rows; ++r) {
    for (int v = 0; v < Vectors; ++v) storeVector<Lanes>(out + r * n + v * Lanes, acc[r][v]);
  }
}

// Shape of the register blocks for each vector width: Vectors vectors across, and rows in
// bands of 6 and 5 (2 * 6 + 4 * 5 = kTileEdge). Twelve or ten accumulators hide the add latency
// and leave registers for the right row and the broadcast; with 16 vector registers this
// measured faster than square power-of-two blocks.
template <int Lanes>
struct RegisterBlockShape {
  static constexpr int kVectors = Lanes >= 8 ? 4 : 2;
  static constexpr int kColumns = kVectors * Lanes;
  static constexpr int kTallRows = 6;
  static constexpr int kTallBands = 2;
  static constexpr int kShortRows = 5;
  static_assert((kTileEdge - kTallRows * kTallBands) % kShortRows == 0);
  static_assert(kTileEdge % kColumns == 0);
};

// Copies the kTileEdge x kTileEdge tile of m at (r0, c0) into packed, row stride kTileEdge, so
// the kernel reads it from contiguous memory: rows n apart would share cache sets when n is a
// multiple of a large power of two.
inline void packTile(const double* m, int n, int r0, int c0, double* packed) {
  for (int r = 0; r < kTileEdge; ++r) {
    const double* row = m + at(r0 + r, c0, n);
    for (int c = 0; c < kTileEdge; ++c) packed[r * kTileEdge + c] = row[c];
  }
}

// Rows [r, r + Rows) of a whole tile, across all its columns. Each register block also asks the
// cache for its columns of the next Rows rows: the rest of this tile, then the top of the tile at
// nextOut (may be null), which the caller computes next. Rows of the output are n apart and,
// when n is a multiple of a large power of two, share a few cache sets: a tile's 128 lines do not
// all fit in them at once, so prefetching a whole tile ahead evicts its own first half, while a
// band ahead stays resident and still covers the memory latency. Prefetching affects speed only.
template <int Lanes, int Rows>
inline void accumulateRowBand(const double* packedLeft, const double* packedRight, double* out,
                              std::size_t n, int r, const double* nextOut) {
  using Shape = RegisterBlockShape<Lanes>;
  for (int c = 0; c < kTileEdge; c += Shape::kColumns) {
    // The rows one band further down: the rest of this tile, then the top of the next one.
    for (int k = r + Rows; k < r + 2 * Rows; ++k) {
      if (k < kTileEdge) {
        __builtin_prefetch(out + k * n + c, 0, 2);
      } else if (nextOut != nullptr) {
        __builtin_prefetch(nextOut + (k - kTileEdge) * n + c, 0, 2);
      }
    }
    accumulateRegisterBlock<Lanes, Rows, Shape::kVectors>(packedLeft + r * kTileEdge,
                                                          packedRight + c, out + r * n + c, n);
  }
}

// A whole kTileEdge^3 tile: out rows [r0, r0 + kTileEdge), columns [c0, c0 + kTileEdge);
// packedLeft and packedRight are the left tile at (r0, k0) and the right tile at (k0, c0) as
// packTile copies them. nextOut (may be null) is the output tile to prefetch.
template <int Lanes>
inline void accumulateFullTile(const double* packedLeft, const double* packedRight, double* out,
                               int n, int r0, int c0, const double* nextOut) {
  using Shape = RegisterBlockShape<Lanes>;
  const std::size_t stride = static_cast<std::size_t>(n);
  double* tile = out + at(r0, c0, n);
  int r = 0;
  for (int band = 0; band < Shape::kTallBands; ++band, r += Shape::kTallRows) {
    accumulateRowBand<Lanes, Shape::kTallRows>(packedLeft, packedRight, tile, stride, r, nextOut);
  }
  for (; r < kTileEdge; r += Shape::kShortRows) {
    accumulateRowBand<Lanes, Shape::kShortRows>(packedLeft, packedRight, tile, stride, r, nextOut);
  }
}
