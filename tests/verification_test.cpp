#include "verification.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "timed_region.hpp"
#include "linalg.hpp"
#include "reference.hpp"

// The checks tools run on a finished factorisation: HPL's scaled residual and the fingerprint.

namespace {

// A 3 x 3 system with an exact integer solution: every product and sum in A x is exact, so the
// residual of the true solution is exactly zero.
const std::vector<double> kMatrix = {4, -2, 1, -2, 4, -2, 1, -2, 4};
const std::vector<double> kSolution = {1, 2, 3};
const std::vector<double> kRhs = {3, 0, 9};

TEST(ScaledResidual, KnownSolutionsAndDamagedOnes) {
  EXPECT_EQ(scaledResidual(kMatrix.data(), kSolution.data(), kRhs.data(), 3), 0.0);
  // b = 0 solved exactly by x = 0: zero, not 0/0.
  const std::vector<double> zeros(3, 0.0);
  EXPECT_EQ(scaledResidual(kMatrix.data(), zeros.data(), zeros.data(), 3), 0.0);

  // One unit in the last place of x[1] is within rounding: r stays far below 16.
  std::vector<double> nearly = kSolution;
  nearly[1] = std::nextafter(2.0, 3.0);
  EXPECT_TRUE(residualPassed(scaledResidual(kMatrix.data(), nearly.data(), kRhs.data(), 3)));

  // An error of 1e-9 in one entry is hundreds of thousands of rounding errors.
  std::vector<double> damaged = kSolution;
  damaged[2] += 1e-9;
  const double r = scaledResidual(kMatrix.data(), damaged.data(), kRhs.data(), 3);
  EXPECT_GT(r, 1e4);
  EXPECT_FALSE(residualPassed(r));

  // A solution with a NaN or an infinity can never pass.
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    std::vector<double> broken = kSolution;
    broken[0] = bad;
    const double residual = scaledResidual(kMatrix.data(), broken.data(), kRhs.data(), 3);
    EXPECT_TRUE(std::isnan(residual));
    EXPECT_FALSE(residualPassed(residual));
  }
}

TEST(ScaledResidual, OfTheBlockedFactorisationPassesOnAndOffTheTileEdge) {
  for (int n : {1, 2, 31, 33, 65, 200}) {
    for (int b : {1, 7, 32}) {
      const std::vector<double> original = randomMatrix(n, 11);
      std::vector<double> a = original, s(a.size(), 0.0), x(n);
      std::vector<int> perm = identityPermutation(n);
      const std::vector<double> rhs = rampVector(n);
      blockedLu(a.data(), perm.data(), s.data(), n, b);
      luSolve(perm.data(), a.data(), rhs.data(), n, x.data());
      EXPECT_LT(scaledResidual(original.data(), x.data(), rhs.data(), n), kResidualBound)
          << "n = " << n << ", b = " << b;
    }
  }
}

TEST(Fingerprint, IsTheSameOnEveryBuild) {
  // Recorded from the plain scalar rendering's factorisation of this matrix. Every build (any
  // compiler, optimisation level or vector width) must reproduce it; CI runs this test on the
  // native-vector, baseline, Clang and sanitizer builds.
  const int n = 130;
  const unsigned seed = 2026;
  const std::string recorded = "98bca7d37ba07b5c";
  std::vector<double> a = randomMatrix(n, seed), s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(n);
  blockedLu(a.data(), perm.data(), s.data(), n, 32);
  EXPECT_EQ(formatFingerprint(fingerprint(a.data(), perm.data(), n)), recorded);
  std::vector<double> b = randomMatrix(n, seed);
  std::vector<int> referencePerm = identityPermutation(n);
  reference::blockedLu(b.data(), referencePerm.data(), s.data(), n, 32);
  EXPECT_EQ(formatFingerprint(fingerprint(b.data(), referencePerm.data(), n)), recorded);
  // One bit of the matrix or one entry of the permutation changes it.
  a[n * n - 1] = std::nextafter(a[n * n - 1], 2.0);
  EXPECT_NE(formatFingerprint(fingerprint(a.data(), perm.data(), n)), recorded);
  std::swap(referencePerm[0], referencePerm[1]);
  EXPECT_NE(formatFingerprint(fingerprint(b.data(), referencePerm.data(), n)), recorded);
}

}  // namespace
