#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "timed_region.hpp"
#include "linalg.hpp"
#include "reference.hpp"

namespace {

struct Factorised {
  std::vector<double> a;
  std::vector<int> perm;
};

Factorised factorise(int n, unsigned seed) {
  Factorised f{randomMatrix(n, seed), identityPermutation(n)};
  std::vector<double> scratch(f.a.size());
  blockedLu(f.a.data(), f.perm.data(), scratch.data(), n, 32);
  return f;
}

TEST(LuSolve, MatchesScalarReferenceBitForBit) {
  for (int n : {1, 2, 3, 31, 32, 33, 65, 100, 257}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const Factorised f = factorise(n, 40u + n);
    const std::vector<double> rhs = randomVector(n, 7u * n);
    std::vector<double> want(n), got(n);
    reference::solve(f.perm.data(), f.a.data(), rhs.data(), n, want.data());
    luSolve(f.perm.data(), f.a.data(), rhs.data(), n, got.data());
    EXPECT_TRUE(sameBits(want, got));
  }
}

TEST(LuSolve, SmallCasesHaveTheirExactAnswers) {
  // n = 1: x = rhs[perm[0]] / a[0][0].
  const int one[] = {0};
  const double a1[] = {4.0}, rhs1[] = {3.0};
  double x1 = 0;
  luSolve(one, a1, rhs1, 1, &x1);
  EXPECT_EQ(x1, 0.75);

  // The identity matrix returns rhs.
  const int n = 5;
  std::vector<double> identity(n * n, 0.0);
  for (int i = 0; i < n; ++i) identity[i * n + i] = 1.0;
  const std::vector<double> rhs = {3, -1, 0.5, 8, 2};
  std::vector<double> x(n);
  luSolve(identityPermutation(n).data(), identity.data(), rhs.data(), n, x.data());
  EXPECT_EQ(x, rhs);

  // A zero on U's diagonal gives infinities and NaNs, not a crash or a message.
  identity[2 * n + 2] = 0.0;
  const int messages = countSingularMessages(
      [&] { luSolve(identityPermutation(n).data(), identity.data(), rhs.data(), n, x.data()); });
  EXPECT_EQ(messages, 0);
  EXPECT_TRUE(std::isinf(x[2]));
}

TEST(LuSolve, PermutationVectorActsAsAReorderedRightHandSide) {
  const int n = 33;
  const Factorised f = factorise(n, 9);
  std::vector<int> swapped = f.perm;
  std::swap(swapped[3], swapped[20]);
  const std::vector<double> rhs = randomVector(n, 5);
  std::vector<double> reordered = rhs;
  std::swap(reordered[f.perm[3]], reordered[f.perm[20]]);
  std::vector<double> viaPerm(n), viaRhs(n);
  luSolve(swapped.data(), f.a.data(), rhs.data(), n, viaPerm.data());
  luSolve(f.perm.data(), f.a.data(), reordered.data(), n, viaRhs.data());
  EXPECT_TRUE(sameBits(viaRhs, viaPerm));
}

TEST(Mydtsrsm, WritesNoneOfItsArgumentsOnTheStackOrTheHeap) {
  // 4096 uses the stack work vectors, 4097 the heap ones.
  for (int n : {1, 64, 4096, 4097}) {
    Factorised f{std::vector<double>(static_cast<std::size_t>(n) * n, 0.5), identityPermutation(n)};
    for (int i = 0; i < n; ++i) f.a[static_cast<std::size_t>(i) * n + i] = 2.0;
    if (n > 1) std::swap(f.perm[0], f.perm[n - 1]);
    const Factorised before = f;
    const std::vector<double> rhs = rampVector(n);
    mydtsrsm(f.perm.data(), f.a.data(), rhs.data(), n);
    EXPECT_EQ(f.a, before.a) << "n = " << n;
    EXPECT_EQ(f.perm, before.perm) << "n = " << n;
    EXPECT_EQ(rhs, rampVector(n)) << "n = " << n;
  }
}

}  // namespace
