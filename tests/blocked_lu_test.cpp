#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "linalg.hpp"
#include "reference.hpp"
#include "timed_region.hpp"

namespace {

struct Factorisation {
  std::vector<double> a;
  std::vector<int> perm;
  std::vector<double> scratch;  // starts as NaNs: every entry the loop leaves alone stays so
  int singularMessages = 0;
};

Factorisation factoriseBlocked(const std::vector<double>& input, int n, int b) {
  Factorisation f{input, identityPermutation(n),
                  std::vector<double>(input.size(), std::numeric_limits<double>::quiet_NaN())};
  f.singularMessages =
      countSingularMessages([&] { blockedLu(f.a.data(), f.perm.data(), f.scratch.data(), n, b); });
  return f;
}

Factorisation factoriseReference(const std::vector<double>& input, int n, int b) {
  Factorisation f{input, identityPermutation(n),
                  std::vector<double>(input.size(), std::numeric_limits<double>::quiet_NaN())};
  f.singularMessages = reference::blockedLu(f.a.data(), f.perm.data(), f.scratch.data(), n, b);
  return f;
}

// The matrix, the permutation and the whole scratch matrix, byte for byte.
void expectMatchesReference(const std::vector<double>& input, int n, int b) {
  SCOPED_TRACE("n = " + std::to_string(n) + ", b = " + std::to_string(b));
  const Factorisation got = factoriseBlocked(input, n, b);
  const Factorisation want = factoriseReference(input, n, b);
  EXPECT_TRUE(sameBits(want.a, got.a));
  EXPECT_EQ(want.perm, got.perm);
  EXPECT_TRUE(sameBits(want.scratch, got.scratch));
  EXPECT_EQ(want.singularMessages, got.singularMessages);
}

const int kOrders[] = {1, 2, 3, 31, 32, 33, 64, 65, 97, 100, 257};
const int kBlocks[] = {1, 3, 7, 16, 32, 64};

// Inputs that stress pivoting and IEEE special values, each an n x n matrix.
std::vector<std::vector<double>> awkwardMatrices(int n) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::size_t last = static_cast<std::size_t>(n) * n - 1;
  std::vector<std::vector<double>> cases;
  cases.push_back(std::vector<double>(last + 1, 0.0));  // every column singular
  auto withNaN = randomMatrix(n, 11);
  withNaN[last / 2] = nan;
  cases.push_back(withNaN);
  auto withInfinities = randomMatrix(n, 12);
  withInfinities[0] = inf;
  withInfinities[last] = -inf;
  cases.push_back(withInfinities);
  auto zeroColumn = randomMatrix(n, 13);
  for (int r = 0; r < n; ++r) zeroColumn[static_cast<std::size_t>(r) * n + n / 2] = 0.0;
  cases.push_back(zeroColumn);
  // Small integers: many ties in magnitude and exact cancellations to zero pivots.
  auto integers = randomMatrix(n, 14);
  for (double& x : integers) x = std::round(2 * x);
  cases.push_back(integers);
  // Huge and tiny magnitudes: overflow to infinity and subnormal results.
  auto extremes = randomMatrix(n, 15);
  for (std::size_t i = 0; i <= last; ++i) extremes[i] *= (i % 3 == 0) ? 1e300 : 1e-300;
  cases.push_back(extremes);
  return cases;
}

TEST(BlockedLu, MatchesScalarReferenceBitForBit) {
  for (int n : kOrders)
    for (int b : kBlocks) expectMatchesReference(randomMatrix(n, 1000u * n + b), n, b);
  expectMatchesReference(randomMatrix(512, 7), 512, 32);
  // Blocks deeper than one pass of the trailing tile loop carry their sums between passes.
  expectMatchesReference(randomMatrix(700, 9), 700, 600);
  expectMatchesReference(randomMatrix(5, 8), 5, INT_MAX);  // block bound must not overflow
}

TEST(BlockedLu, TallPanelsMatchScalarReference) {
  // Above about a thousand rows the pivot search takes a block's columns a few at a time (the
  // column copy it scans holds 32768 entries): groups of 24, 24 and 16 columns here, and of 24
  // and 8 at n = 1300; ties in magnitude (small integers) must still keep the upper row.
  auto integers = randomMatrix(1100, 23);
  for (double& x : integers) x = std::round(4 * x);
  for (const auto& input : {randomMatrix(1100, 21), integers})
    expectMatchesReference(input, 1100, 64);
  expectMatchesReference(randomMatrix(1300, 22), 1300, 32);
}

// The block loop of one vector path and tile kernel, compiled with that path's flags, against the
// reference: matrix, permutation, the whole scratch matrix (which starts as NaNs) and the
// singular messages.
void expectKernelMatchesReference(const KernelChoice& choice, const std::vector<double>& input,
                                  int n, int b, const Factorisation& want,
                                  int blocksPerSweep = 2) {
  SCOPED_TRACE(describe(choice) + ", n = " + std::to_string(n) + ", b = " + std::to_string(b) +
               ", blocks per sweep " + std::to_string(blocksPerSweep));
  Factorisation got{input, identityPermutation(n),
                    std::vector<double>(input.size(), std::numeric_limits<double>::quiet_NaN())};
  got.singularMessages = countSingularMessages([&] {
    blockedLuWith(choice, got.a.data(), got.perm.data(), got.scratch.data(), n, b, nullptr,
                  blocksPerSweep);
  });
  EXPECT_TRUE(sameBits(want.a, got.a));
  EXPECT_EQ(want.perm, got.perm);
  EXPECT_TRUE(sameBits(want.scratch, got.scratch));
  EXPECT_EQ(want.singularMessages, got.singularMessages);
}

// Inputs whose second block (columns [b, 2b)) makes the look-ahead's edges matter: pivots brought
// up from the bottom rows, one row moved twice, ties, a zero column, NaN and infinities.
std::vector<std::vector<double>> lookAheadMatrices(int n, int b) {
  const auto entry = [n](std::vector<double>& m, int r, int c) -> double& {
    return m[static_cast<std::size_t>(r) * n + c];
  };
  std::vector<std::vector<double>> cases{randomMatrix(n, 31)};
  if (n < b + 2) return cases;
  // The bottom row wins column b; the row it swaps with, now at the bottom, wins column b + 1.
  auto farPivots = randomMatrix(n, 32);
  for (int r = b; r < n; ++r) entry(farPivots, r, b) *= 1 + r;
  entry(farPivots, n - 1, b) = 1e6;
  entry(farPivots, b, b + 1) = 1e6;
  cases.push_back(farPivots);
  auto ties = randomMatrix(n, 33);
  for (double& x : ties) x = std::round(2 * x);
  cases.push_back(ties);
  auto special = randomMatrix(n, 34);
  for (int r = 0; r < n; ++r) entry(special, r, b + 1) = 0.0;
  entry(special, n - 2, b) = std::numeric_limits<double>::quiet_NaN();
  entry(special, n / 2, n - 1) = std::numeric_limits<double>::infinity();
  cases.push_back(special);
  // Within a group of blocks, one position below the group touched by every block after the
  // first: the bottom row wins column b, the row it swaps down wins column 2b, and so on; a second
  // position joins at the third block. Their first block's entries are small, so that block's own
  // pivots leave them where they are.
  auto sharedPosition = randomMatrix(n, 35);
  for (int c = 0; c < b && c < n; ++c) {
    for (int r : {n - 2, n - 1}) entry(sharedPosition, r, c) *= 1e-3;
    for (int r = b; r < n - 2; r += b) entry(sharedPosition, r, c) *= 1e-3;
  }
  entry(sharedPosition, n - 1, b) = 1e6;
  for (int k = 1; (k + 1) * b < n; ++k) entry(sharedPosition, k * b, (k + 1) * b) = 1e6;
  if (2 * b + 1 < n) entry(sharedPosition, n - 2, 2 * b + 1) = 1e7;
  cases.push_back(sharedPosition);
  return cases;
}

TEST(BlockedLu, LookAheadMatchesScalarReferenceWithEveryKernel) {
  // Below and just above one group, groups that do not divide the blocks (a last group shorter
  // than the rest, or of one), blocks that do not divide n, sweeps with whole tiles and clipped
  // ones, and for each group size given (more than the most a sweep takes is the most).
  const std::pair<int, int> shapes[] = {{63, 32}, {65, 32},  {97, 32}, {129, 32},
                                        {200, 32}, {33, 16}, {100, 7}, {150, 64},
                                        {40, 3},  {300, 32}, {161, 16}};
  for (auto [n, b] : shapes) {
    for (const auto& input : lookAheadMatrices(n, b)) {
      const Factorisation want = factoriseReference(input, n, b);
      for (const KernelChoice& choice : runnableKernels()) {
        for (int blocksPerSweep : {2, 3, 4, 7}) {
          expectKernelMatchesReference(choice, input, n, b, want, blocksPerSweep);
        }
      }
    }
  }
}

// Counts the sweeps over the trailing submatrix the block loop reports.
class SweepCounter final : public StepObserver {
 public:
  void finished(LuStep step) override { sweeps += step == LuStep::kTrailingSweep ? 1 : 0; }
  int sweeps = 0;
};

TEST(BlockedLu, SweepsFollowEachPathsSchedule) {
  // n = 300 in blocks of 32: nine whole blocks and one of 12. Groups never take the last block,
  // so one block before it runs a pass of its own whenever the groups do not reach it.
  constexpr int n = 300;
  constexpr int b = 32;
  const int sweepsFor[] = {0, 9, 5, 3, 3};  // by blocks a sweep
  const std::vector<double> input = randomMatrix(n, 41);
  for (const KernelChoice& choice : runnableKernels()) {
    SCOPED_TRACE(describe(choice));
    const int schedule = choice.path->routines.blocksPerSweep;
    ASSERT_GE(schedule, 1);
    ASSERT_LE(schedule, 4);
    for (int blocksPerSweep : {kPathSchedule, 1, 2, 3, 4}) {
      Factorisation f{input, identityPermutation(n), std::vector<double>(input.size())};
      SweepCounter counter;
      blockedLuWith(choice, f.a.data(), f.perm.data(), f.scratch.data(), n, b, &counter,
                    blocksPerSweep);
      EXPECT_EQ(counter.sweeps,
                sweepsFor[blocksPerSweep == kPathSchedule ? schedule : blocksPerSweep])
          << blocksPerSweep << " blocks a sweep asked for";
    }
  }
}

TEST(BlockedLu, PivotSearchChoosesTheSamePivotsWithAnyCopySize) {
  // A copy smaller than a column makes the search take it a piece at a time; a copy of a few
  // columns makes it take the block a group at a time. Either way it must choose the pivots the
  // plain search does on the matrix whose rows it has not moved yet: first row of largest
  // magnitude, ties to the upper row, NaN never winning (but staying the pivot at the top).
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int n : {33, 100}) {
    const int first = 3, end = std::min(n, first + 32);
    auto inputs = awkwardMatrices(n);
    auto nanTop = randomMatrix(n, 41);
    nanTop[static_cast<std::size_t>(first) * n + first] = nan;
    nanTop[static_cast<std::size_t>(n - 5) * n + first + 1] = nan;
    inputs.push_back(nanTop);
    for (const auto& input : inputs) {
      // The plain search, interchanges made as it goes.
      std::vector<double> m = input;
      std::vector<int> want;
      int wantSingular = 0;
      for (int i = first; i < end; ++i) {
        int p = i;
        double largest = std::fabs(m[static_cast<std::size_t>(i) * n + i]);
        for (int t = i + 1; t < n; ++t) {
          const double magnitude = std::fabs(m[static_cast<std::size_t>(t) * n + i]);
          if (magnitude > largest) {
            p = t;
            largest = magnitude;
          }
        }
        if (largest == 0.0) ++wantSingular;
        want.push_back(largest == 0.0 ? i : p);
        for (int c = 0; largest != 0.0 && c < n; ++c)
          std::swap(m[static_cast<std::size_t>(i) * n + c], m[static_cast<std::size_t>(p) * n + c]);
      }
      for (const VectorPath& path : vectorPaths()) {
        if (!path.cpuRuns()) continue;
        for (int copyEntries : {1, 7, 40, 2 * n, 20 * n}) {
          SCOPED_TRACE(std::string(path.name) + ", n = " + std::to_string(n) + ", copy of " +
                       std::to_string(copyEntries));
          std::vector<double> copy(copyEntries);
          std::vector<int> got(end - first, -1);
          int singular = 0;
          const int messages = countSingularMessages([&] {
            singular = path.routines.searchPanelPivotsWithCopy(input.data(), n, first, end,
                                                               got.data(), copy.data(), copyEntries);
          });
          EXPECT_EQ(got, want);
          EXPECT_EQ(singular, wantSingular);
          EXPECT_EQ(messages, wantSingular);
        }
      }
    }
  }
}

TEST(BlockedLu, SpecialValuesMatchScalarReference) {
  for (int n : {1, 2, 5, 33, 65})
    for (int b : {1, 3, 32})
      for (const auto& input : awkwardMatrices(n)) expectMatchesReference(input, n, b);
}

TEST(BlockedLu, ZeroColumnsAreReportedOnceEachWithoutInterchange) {
  // A zero matrix: each column of the first block is reported; its elimination turns the rest
  // into NaNs, which do not count as zero.
  const int n = 33;
  for (int b : {7, 64}) {
    const Factorisation zeros = factoriseBlocked(std::vector<double>(n * n, 0.0), n, b);
    EXPECT_EQ(zeros.singularMessages, std::min(b, n));
    EXPECT_EQ(zeros.perm, identityPermutation(n));
  }

  // Column 0 is zero from the diagonal down; the other columns are dominated by the diagonal.
  std::vector<double> a = randomMatrix(n, 3);
  for (int r = 0; r < n; ++r) {
    a[r * n] = 0.0;
    if (r > 0) a[r * n + r] = 100.0;
  }
  const Factorisation f = factoriseBlocked(a, n, 7);
  EXPECT_EQ(f.singularMessages, 1);
  EXPECT_EQ(f.perm, identityPermutation(n));
}

TEST(BlockedLu, EqualMagnitudesKeepTheUpperRow) {
  // Column 0 holds -1, 1, -1 ...; the first row must stay the pivot.
  const int n = 4;
  std::vector<double> a = {-1, 2, 3, 4, 1, 9, 1, 2, -1, 3, 8, 1, 1, 1, 2, 7};
  const Factorisation f = factoriseBlocked(a, n, 4);
  EXPECT_EQ(f.perm[0], 0);
  EXPECT_EQ(f.singularMessages, 0);
}

TEST(BlockedLu, PivotsOfABlockAreChosenBeforeItsElimination) {
  // Column 1 looks zero below the diagonal before the block is eliminated: one message, no
  // interchange, and the factorisation is still exact.
  std::vector<double> a = {1, 1, 1, 0};
  Factorisation f = factoriseBlocked(a, 2, 32);
  EXPECT_EQ(f.singularMessages, 1);
  EXPECT_EQ(f.perm, identityPermutation(2));
  EXPECT_EQ(f.a, (std::vector<double>{1, 1, 1, -1}));

  // A non-singular matrix meeting a zero divisor after its pivots were fixed: no message.
  a = {2, 2, 0, 1, 1, 1, 0, 0.5, 1};
  f = factoriseBlocked(a, 3, 32);
  EXPECT_EQ(f.singularMessages, 0);
  EXPECT_EQ(f.perm, identityPermutation(3));
  EXPECT_EQ(f.a[4], 0.0);
  EXPECT_EQ(f.a[7], std::numeric_limits<double>::infinity());
  EXPECT_EQ(f.a[8], -std::numeric_limits<double>::infinity());
}

TEST(BlockedLu, SolvesRandomSystemsWithinTheRoundingBound) {
  for (int n : {100, 257, 300}) {
    for (int b : {7, 32}) {
      const std::vector<double> input = randomMatrix(n, 77u + n);
      const Factorisation f = factoriseBlocked(input, n, b);
      ASSERT_TRUE(isPermutation(f.perm));
      const std::vector<double> rhs = rampVector(n);
      std::vector<double> x(n);
      luSolve(f.perm.data(), f.a.data(), rhs.data(), n, x.data());
      EXPECT_LT(residualRatio(input, f.a, x, rhs, n), 1.0) << "n = " << n << ", b = " << b;
    }
  }
}

TEST(BlockedLu, NonPositiveSizesLeaveTheDataAlone) {
  std::vector<double> a = randomMatrix(4, 5);
  const std::vector<double> before = a;
  std::vector<double> scratch(16, 1.0);
  std::vector<int> perm = identityPermutation(4);
  for (int b : {0, -3}) {
    ::testing::internal::CaptureStderr();
    blockedLu(a.data(), perm.data(), scratch.data(), 4, b);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("block size"), std::string::npos);
  }
  blockedLu(a.data(), perm.data(), scratch.data(), 0, 32);
  EXPECT_EQ(a, before);
  EXPECT_EQ(perm, identityPermutation(4));
}

}  // namespace
