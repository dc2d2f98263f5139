#pragma once

#include "linalg.hpp"
#include "matrix_index.hpp"

// One tile of the trailing product: for r in [r0, r0+rows), c in [c0, c0+cols):
//   out[r][c] += left[r][a] * right[a][c]   for a = k0, ..., k0+depth-1, in increasing a.
// Each output row is held in a local accumulator while the depth loop runs; vectorising across
// c keeps every sum in its own order. rows, cols, depth <= kTileEdge.
inline void accumulateTile(const double* left, const double* right, double* out, int n, int r0,
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

// A whole kTileEdge^3 tile: the sizes are constants, so the compiler specialises the loops.
inline void accumulateFullTile(const double* left, const double* right, double* out, int n, int r0,
                               int c0, int k0) {
  accumulateTile(left, right, out, n, r0, kTileEdge, c0, kTileEdge, k0, kTileEdge);
}
