#include "kernel_rate.hpp"

#include "blocking.hpp"
#include "simd.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

double runTileKernelInCache(int tiles, const TileKernel& kernel) {
  alignas(64) double packedLeft[kTileEdge * kTileEdge];
  alignas(64) double packedRight[kTileEdge * kTileEdge];
  alignas(64) double out[kTileEdge * kTileEdge] = {};
  for (int i = 0; i < kTileEdge * kTileEdge; ++i) {
    packedLeft[i] = 1.0 / (i + 1);
    packedRight[i] = 1.0 / (i + 2);
  }
  const TileTarget target{out, nullptr, false, false, nullptr, kTileEdge, 0};
  for (int t = 0; t < tiles; ++t) {
    kernel.run(packedLeft, packedRight, kTileEdge, target, kTileEdge, nullptr);
  }
  // Every tile adds onto the sums of the one before, in rounded steps no compiler may merge;
  // reading the result through a volatile keeps the work from being discarded as dead.
  double largest = out[0];
  for (double sum : out) largest = sum > largest ? sum : largest;
  volatile double keep = largest;
  (void)keep;
  return 2.0 * kTileEdge * kTileEdge * kTileEdge * tiles;
}

namespace {

// Accumulators: with 32 vector registers (the 8-lane targets) 24, else 12; each chain waits for
// its previous step, so this many keep every arithmetic unit busy.
constexpr int kChains = kDoubleLanes >= 8 ? 24 : 12;

template <bool Fused>
double multiplyAddChains(long steps) {
  using Vector = DoubleVector<kDoubleLanes>;
  // x < 1 keeps every chain near y / (1 - x): no overflow, no subnormals.
  const Vector x = broadcast<kDoubleLanes>(0.999);
  const Vector y = broadcast<kDoubleLanes>(1e-3);
  Vector acc[kChains];
#pragma GCC unroll 24
  for (int c = 0; c < kChains; ++c) acc[c] = broadcast<kDoubleLanes>(1.0 / (c + 1));
  for (long step = 0; step < steps; ++step) {
#pragma GCC unroll 24
    for (int c = 0; c < kChains; ++c) {
      if constexpr (Fused) {
        acc[c] = fusedMultiplyAdd<kDoubleLanes>(acc[c], x, y);
      } else {
        acc[c] = acc[c] * x + y;
      }
    }
  }
  // Reading every chain through a volatile keeps the work from being discarded as dead.
  volatile double keep = 0;
  for (const Vector& chain : acc) keep = keep + chain[0];
  return 2.0 * kDoubleLanes * kChains * static_cast<double>(steps);
}

}  // namespace

double runMultiplyAddChains(long steps, bool fused) {
  return fused ? multiplyAddChains<true>(steps) : multiplyAddChains<false>(steps);
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
