#include "reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "test_data.hpp"

::testing::AssertionResult sameBits(const std::vector<double>& expected,
                                    const std::vector<double>& actual) {
  if (expected.size() != actual.size())
    return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << actual.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (std::isnan(expected[i]) && std::isnan(actual[i])) continue;
    if (std::memcmp(&expected[i], &actual[i], sizeof(double)) != 0) {
      return ::testing::AssertionFailure()
             << "first difference at index " << i << ": expected " << expected[i] << ", got "
             << actual[i] << " (" << std::hexfloat << expected[i] << " vs " << actual[i] << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<double> randomMatrix(int n, unsigned seed) {
  std::vector<double> m(static_cast<std::size_t>(n) * n);
  randMatrixGenSeeded(m.data(), n, n, seed);
  return m;
}

std::vector<double> randomVector(int n, unsigned seed) {
  std::vector<double> v(n);
  randMatrixGenSeeded(v.data(), 1, n, seed);
  return v;
}

std::vector<int> identityPermutation(int n) {
  std::vector<int> p(n);
  for (int i = 0; i < n; ++i) p[i] = i;
  return p;
}

std::vector<double> rampVector(int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = i;
  return v;
}

double residualRatio(const std::vector<double>& a, const std::vector<double>& lu,
                     const std::vector<double>& x, const std::vector<double>& rhs, int n) {
  auto at = [n](int r, int c) { return static_cast<std::size_t>(r) * n + c; };
  std::vector<long double> upperRowSum(n, 0);  // sum over c of |U[k][c]|
  for (int k = 0; k < n; ++k)
    for (int c = k; c < n; ++c) upperRowSum[k] += std::fabs(lu[at(k, c)]);
  long double residual = 0, normLU = 0, normX = 0;
  for (int r = 0; r < n; ++r) {
    long double ax = 0, rowLU = upperRowSum[r];  // L's unit diagonal
    for (int c = 0; c < n; ++c) ax += static_cast<long double>(a[at(r, c)]) * x[c];
    for (int k = 0; k < r; ++k) rowLU += std::fabs(lu[at(r, k)]) * upperRowSum[k];
    residual = std::max(residual, std::fabs(ax - rhs[r]));
    normLU = std::max(normLU, rowLU);
    normX = std::max<long double>(normX, std::fabs(x[r]));
  }
  return static_cast<double>(residual / (3.0L * n * std::ldexp(1.0L, -53) * normLU * normX));
}

bool isPermutation(const std::vector<int>& perm) {
  std::vector<int> sorted = perm;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i)
    if (sorted[i] != static_cast<int>(i)) return false;
  return true;
}

int countSingularMessages(const std::function<void()>& work) {
  std::fflush(stdout);
  ::testing::internal::CaptureStdout();
  work();
  std::fflush(stdout);
  std::istringstream lines(::testing::internal::GetCapturedStdout());
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line == "LUfactoration failed: coefficient matrix is singular") ++count;
  }
  return count;
}

std::vector<KernelChoice> runnableKernels() {
  std::vector<KernelChoice> all;
  for (const VectorPath& path : vectorPaths()) {
    if (!path.cpuRuns()) continue;
    for (const TileKernel& kernel : kernelsOf(path)) all.push_back(KernelChoice{&path, &kernel});
  }
  return all;
}

std::string describe(const KernelChoice& choice) {
  return std::string(choice.path->name) + " / " + choice.kernel->name;
}
