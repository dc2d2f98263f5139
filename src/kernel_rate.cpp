#include "kernel_rate.hpp"

#include <algorithm>
#include <iterator>

#include "simd.hpp"
#include "tile_kernel.hpp"

double runTileKernelInCache(int tiles) {
  alignas(64) double packedLeft[kTileEdge * kTileEdge];
  alignas(64) double packedRight[kTileEdge * kTileEdge];
  alignas(64) double out[kTileEdge * kTileEdge] = {};
  for (int i = 0; i < kTileEdge * kTileEdge; ++i) {
    packedLeft[i] = 1.0 / (i + 1);
    packedRight[i] = 1.0 / (i + 2);
  }
  const TileTarget target{out, nullptr, false, false, nullptr};
  for (int t = 0; t < tiles; ++t) {
    accumulateFullTile<kDoubleLanes>(packedLeft, packedRight, kTileEdge, target, kTileEdge,
                                     nullptr);
  }
  // Every tile adds onto the sums of the one before, in rounded steps no compiler may merge;
  // reading the result through a volatile keeps the work from being discarded as dead.
  volatile double keep = *std::max_element(std::begin(out), std::end(out));
  (void)keep;
  return 2.0 * kTileEdge * kTileEdge * kTileEdge * tiles;
}
