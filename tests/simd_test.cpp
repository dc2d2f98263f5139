#include "simd.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "matrix_index.hpp"

// The vector layer and the matrix index: what every kernel builds on.

namespace {

// The fused multiply-add the peak benchmark measures rounds once at every width, so its rate is
// that of a true fused operation (the canary of cache1_test.cpp the other way round).
template <int Lanes>
void expectFusedMultiplyAddRoundsOnce() {
  SCOPED_TRACE("lanes = " + std::to_string(Lanes));
  const double factor = 1 + std::ldexp(1.0, -30);
  const DoubleVector<Lanes> got =
      fusedMultiplyAdd<Lanes>(broadcast<Lanes>(factor), broadcast<Lanes>(factor),
                              broadcast<Lanes>(-(1 + std::ldexp(1.0, -29))));
  for (int lane = 0; lane < Lanes; ++lane) EXPECT_EQ(got[lane], std::ldexp(1.0, -60));
}

TEST(Simd, FusedMultiplyAddRoundsOnceAtEveryWidth) {
  expectFusedMultiplyAddRoundsOnce<1>();
  expectFusedMultiplyAddRoundsOnce<2>();
  expectFusedMultiplyAddRoundsOnce<4>();
  expectFusedMultiplyAddRoundsOnce<8>();
}

TEST(MatrixIndex, PositionsPastTheIntRangeDoNotOverflow) {
  // 46341^2 exceeds 2^31 - 1; every routine addresses entries through at().
  const int n = 46341;
  EXPECT_EQ(at(n - 1, n - 1, n), 46341ull * 46341ull - 1);
  EXPECT_EQ(at(n - 1, 0, n), 46340ull * 46341ull);
}

}  // namespace
