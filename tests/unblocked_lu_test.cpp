#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "linalg.hpp"
#include "reference.hpp"

namespace {

TEST(Mydgetfr, MatchesScalarReferenceBitForBit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int n : {1, 2, 3, 31, 32, 33, 65, 100}) {
    std::vector<std::vector<double>> inputs = {randomMatrix(n, 20u + n),
                                               std::vector<double>(n * n, 0.0)};
    auto integers = randomMatrix(n, 30u + n);  // ties and exact cancellations
    for (double& x : integers) x = std::round(2 * x);
    inputs.push_back(integers);
    auto withNaN = randomMatrix(n, 40u + n);
    withNaN[n * n / 2] = nan;
    inputs.push_back(withNaN);
    for (const auto& input : inputs) {
      SCOPED_TRACE("n = " + std::to_string(n));
      std::vector<double> want = input, got = input;
      std::vector<int> wantPerm = identityPermutation(n), gotPerm = wantPerm;
      const int wantMessages = reference::unblockedLu(wantPerm.data(), want.data(), n);
      const int gotMessages =
          countSingularMessages([&] { mydgetfr(gotPerm.data(), got.data(), n); });
      EXPECT_TRUE(sameBits(want, got));
      EXPECT_EQ(wantPerm, gotPerm);
      EXPECT_EQ(wantMessages, gotMessages);
    }
  }
}

TEST(Mydgetfr, ZeroColumnIsReportedOnceAndPoisonsTheTrailingBlock) {
  int perm1[] = {0};
  double zero = 0.0;
  EXPECT_EQ(countSingularMessages([&] { mydgetfr(perm1, &zero, 1); }), 1);

  const int n = 6;
  std::vector<double> a = randomMatrix(n, 8);
  for (int r = 0; r < n; ++r) a[r * n] = 0.0;
  std::vector<int> perm = identityPermutation(n);
  EXPECT_EQ(countSingularMessages([&] { mydgetfr(perm.data(), a.data(), n); }), 1);
  EXPECT_EQ(perm, identityPermutation(n));
  for (int r = 1; r < n; ++r)
    for (int c = 0; c < n; ++c) EXPECT_TRUE(std::isnan(a[r * n + c])) << r << ", " << c;
}

TEST(Mydgetfr, DiagonallyDominantMatrixNeedsNoInterchange) {
  const int n = 50;
  std::vector<double> a = randomMatrix(n, 9);
  for (int i = 0; i < n; ++i) a[i * n + i] = n;
  std::vector<int> perm = identityPermutation(n);
  mydgetfr(perm.data(), a.data(), n);
  EXPECT_EQ(perm, identityPermutation(n));
}

TEST(Mydgetfr, SolvesRandomSystemsWithinTheRoundingBound) {
  for (int n : {100, 257}) {
    const std::vector<double> input = randomMatrix(n, 60u + n);
    std::vector<double> a = input;
    std::vector<int> perm = identityPermutation(n);
    mydgetfr(perm.data(), a.data(), n);
    ASSERT_TRUE(isPermutation(perm));
    const std::vector<double> rhs = rampVector(n);
    std::vector<double> x(n);
    luSolve(perm.data(), a.data(), rhs.data(), n, x.data());
    EXPECT_LT(residualRatio(input, a, x, rhs, n), 1.0) << "n = " << n;
  }
}

}  // namespace
