#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "linalg.hpp"
#include "matrix_index.hpp"
#include "memory.hpp"
#include "reference.hpp"
#include "vector_paths.hpp"

namespace {

// The tile loop of one vector path with one kernel: cache1's accumulation (update null) or the
// fused trailing update, over rows and columns [start, n) and the inner range [first, start).
void trailingPass(const KernelChoice& choice, const double* left, const double* right, double* out,
                  double* update, int n, int start, int first) {
  choice.path->routines.trailingPass(left, right, out, update, n,
                                     TrailingRegion{start, n, start, n, first, start - first, 1, {}},
                                     *choice.kernel);
}

// cache1 against the reference on random operands, with out already holding values so that the
// accumulation onto them is checked too. The whole of out is compared: nothing outside
// [start, n)^2 may change.
void expectMatchesReference(int n, int start, int first) {
  SCOPED_TRACE("n = " + std::to_string(n) + ", start = " + std::to_string(start) +
               ", first = " + std::to_string(first));
  const std::vector<double> left = randomMatrix(n, 1);
  const std::vector<double> right = randomMatrix(n, 2);
  std::vector<double> want = randomMatrix(n, 3);
  std::vector<double> got = want;
  reference::cache1(left.data(), right.data(), want.data(), n, start, first);
  cache1(left.data(), right.data(), got.data(), n, start, 32, first);
  EXPECT_TRUE(sameBits(want, got));
}

TEST(Cache1, MatchesScalarReferenceOnAndOffTileEdges) {
  for (int n : {1, 2, 31, 32, 33, 64, 65, 97, 130}) {
    for (int start : {0, 1, 7, 31, 32, 33, 64, 65, n - 1, n}) {
      if (start < 0 || start > n) continue;
      for (int first : {0, 1, start - 33, start - 32, start - 7, start - 1, start}) {
        if (first >= 0 && first <= start) expectMatchesReference(n, start, first);
      }
    }
  }
}

TEST(Cache1, ArgumentsOutsideTheMatrixAreSafe) {
  const int n = 40;
  const std::vector<double> left = randomMatrix(n, 4);
  const std::vector<double> right = randomMatrix(n, 5);
  const std::vector<double> initial = randomMatrix(n, 6);

  // Nothing to add: start at or past n, or an empty inner range.
  for (auto [start, first] : {std::pair{n, 0}, {n + 50, 0}, {10, 10}, {10, 30}, {-5, -9}}) {
    std::vector<double> out = initial;
    cache1(left.data(), right.data(), out.data(), n, start, 32, first);
    EXPECT_EQ(out, initial) << "start = " << start << ", first = " << first;
  }
  // A negative first is read as 0.
  std::vector<double> clipped = initial;
  std::vector<double> want = initial;
  cache1(left.data(), right.data(), clipped.data(), n, 20, 32, -13);
  reference::cache1(left.data(), right.data(), want.data(), n, 20, 0);
  EXPECT_TRUE(sameBits(want, clipped));
}

TEST(Cache1, NeverFusesAMultiplyWithAnAdd) {
  // (1 + 2^-30)^2 rounds to 1 + 2^-29, so adding it to -(1 + 2^-29) gives exactly 0; a fused
  // multiply-add would keep the 2^-60 of the exact product.
  const double factor = 1 + std::ldexp(1.0, -30);
  std::vector<double> left(4, 0.0), right(4, 0.0), out(4, 0.0);
  left[2] = factor;   // left[1][0]
  right[1] = factor;  // right[0][1]
  out[3] = -(1 + std::ldexp(1.0, -29));
  cache1(left.data(), right.data(), out.data(), 2, 1, 32, 0);
  EXPECT_EQ(out[3], 0.0);
}

// Every vector path this CPU runs with each of its kernels, on operands that expose lane-level
// mistakes: rows of -0.0 (the sign of a zero sum depends on every
// product's sign, so a broadcast that adds +0 or a reordered sum shows), and a pair of entries
// whose product rounds differently when fused with the add.
void expectKernelMatchesReference(const KernelChoice& choice) {
  SCOPED_TRACE(describe(choice));
  const double factor = 1 + std::ldexp(1.0, -30);
  for (int n : {32, 64, 65, 97, 130}) {
    for (int start : {32, 33, 64}) {
      if (start > n - 2) continue;  // the canary output needs two trailing columns
      for (int first : {0, 1, start - 32, start - 1}) {
        SCOPED_TRACE("n = " + std::to_string(n) + ", start = " + std::to_string(start) +
                     ", first = " + std::to_string(first));
        std::vector<double> left = randomMatrix(n, 7);
        const std::vector<double> right = randomMatrix(n, 8);
        std::vector<double> want = randomMatrix(n, 9);
        for (int r = start; r < n; r += 3) {
          for (int c = 0; c < n; ++c) {
            left[at(r, c, n)] = -0.0;
            want[at(r, c, n)] = -0.0;
          }
        }
        // One output whose only nonzero product is factor^2, against -(1 + 2^-29).
        const int r = n - 1, c = n - 2, a = first;
        for (int k = 0; k < n; ++k) left[at(r, k, n)] = 0.0;
        left[at(r, a, n)] = factor;
        std::vector<double> rightWithCanary = right;
        rightWithCanary[at(a, c, n)] = factor;
        want[at(r, c, n)] = -(1 + std::ldexp(1.0, -29));
        std::vector<double> got = want;
        reference::cache1(left.data(), rightWithCanary.data(), want.data(), n, start, first);
        trailingPass(choice, left.data(), rightWithCanary.data(), got.data(), nullptr, n, start,
                     first);
        EXPECT_TRUE(sameBits(want, got));
        EXPECT_EQ(got[at(r, c, n)], 0.0);
      }
    }
  }
}

TEST(Cache1, EveryKernelMatchesScalarReference) {
  for (const KernelChoice& choice : runnableKernels()) expectKernelMatchesReference(choice);
}

// A 64-byte-aligned n x n matrix, as the driver allocates them, so that the streaming-store path
// of the fused pass runs; filled from values.
struct AlignedMatrix {
  AlignedMatrix(const std::vector<double>& values)
      : data(static_cast<double*>(allocateAlignedZeroed(values.size(), sizeof(double))),
             &std::free),
        size(values.size()) {
    std::copy(values.begin(), values.end(), data.get());
  }
  std::vector<double> values() const { return {data.get(), data.get() + size}; }
  std::unique_ptr<double[], decltype(&std::free)> data;
  std::size_t size;
};

// The fused trailing pass of every path and kernel against the separate steps in the plain order:
// the scratch region zeroed, cache1, the matrix minus the product. The scratch matrix starts as
// NaNs, so a sum that read it instead of starting from zero shows, and so does a write outside
// the region. Rows of -0.0 check the signs of zero sums; one entry's sum is
// -(1 + 2^-29) + (1 + 2^-30)^2, exactly 0 unless the multiply is fused with the add.
void expectFusedPassMatchesReference(const KernelChoice& choice) {
  SCOPED_TRACE(describe(choice));
  const double factor = 1 + std::ldexp(1.0, -30);
  for (int n : {32, 64, 65, 96, 130}) {
    for (int start : {8, 32, 33, 64}) {
      if (start > n - 2) continue;
      for (int first : {0, start - 32, start - 8, start - 2}) {
        if (first < 0) continue;
        SCOPED_TRACE("n = " + std::to_string(n) + ", start = " + std::to_string(start) +
                     ", first = " + std::to_string(first));
        std::vector<double> a = randomMatrix(n, 10);
        for (int r = start; r < n; r += 3) {
          for (int k = first; k < start; ++k) a[at(r, k, n)] = -0.0;
        }
        const int r = n - 1, c = n - 2;
        for (int k = first; k < start; ++k) a[at(r, k, n)] = 0.0;
        a[at(r, first, n)] = -(1 + std::ldexp(1.0, -29));
        a[at(first, c, n)] = 1.0;
        a[at(r, first + 1, n)] = factor;
        a[at(first + 1, c, n)] = factor;
        const std::vector<double> nans(a.size(), std::numeric_limits<double>::quiet_NaN());

        std::vector<double> wantA = a, wantS = nans;
        for (int i = start; i < n; ++i)
          for (int j = start; j < n; ++j) wantS[at(i, j, n)] = 0.0;
        reference::cache1(wantA.data(), wantA.data(), wantS.data(), n, start, first);
        for (int i = start; i < n; ++i)
          for (int j = start; j < n; ++j) wantA[at(i, j, n)] -= wantS[at(i, j, n)];

        AlignedMatrix gotA(a), gotS(nans);
        trailingPass(choice, gotA.data.get(), gotA.data.get(), gotS.data.get(), gotA.data.get(), n,
                     start, first);
        EXPECT_TRUE(sameBits(wantA, gotA.values()));
        EXPECT_TRUE(sameBits(wantS, gotS.values()));
        EXPECT_EQ(gotS.data[at(r, c, n)], 0.0);
      }
    }
  }
}

TEST(TrailingPass, EveryKernelMatchesTheSeparateSteps) {
  for (const KernelChoice& choice : runnableKernels()) expectFusedPassMatchesReference(choice);
}

TEST(TrailingPass, InnerRangesLongerThanOnePassCarryTheirSums) {
  // 600 inner terms take two passes over the tiles, for cache1 and for the fused pass alike.
  const int n = 672, start = 608, first = 8;
  const std::vector<double> a = randomMatrix(n, 12);
  std::vector<double> wantS(a.size(), 0.0);
  reference::cache1(a.data(), a.data(), wantS.data(), n, start, first);
  std::vector<double> gotS(a.size(), 0.0);
  cache1(a.data(), a.data(), gotS.data(), n, start, 32, first);
  EXPECT_TRUE(sameBits(wantS, gotS));

  std::vector<double> wantA = a;
  for (int i = start; i < n; ++i)
    for (int j = start; j < n; ++j) wantA[at(i, j, n)] -= wantS[at(i, j, n)];
  AlignedMatrix fusedA(a), fusedS(std::vector<double>(a.size(), 0.0));
  trailingPass(resolveChoice(KernelChoice{}), fusedA.data.get(), fusedA.data.get(),
               fusedS.data.get(), fusedA.data.get(), n, start, first);
  EXPECT_TRUE(sameBits(wantA, fusedA.values()));
  EXPECT_TRUE(sameBits(wantS, fusedS.values()));
}

}  // namespace
