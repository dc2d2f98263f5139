#pragma once

#include <cstdint>

#include "blocking.hpp"
#include "matrix_index.hpp"
#include "path_namespace.hpp"
#include "path_routines.hpp"

// The kernel for clipped tiles at the matrix edges, in plain scalar code. Each output entry is a
// running sum that starts from its value in out (or from +0 for a fresh scratch region) and adds
// the rounded products left[r][a] * right[a][c] one at a time in increasing a.

namespace lubench::LUBENCH_PATH_NAMESPACE {

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

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
