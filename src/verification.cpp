#include "verification.hpp"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "matrix_index.hpp"

double scaledResidual(const double* a, const double* x, const double* b, int n) {
  double residualNorm = 0.0;
  double matrixNorm = 0.0;
  double solutionNorm = 0.0;
  double rhsNorm = 0.0;
  bool nonFinite = false;
  for (int r = 0; r < n; ++r) {
    const double* row = a + at(r, 0, n);
    double product = 0.0;
    double rowSum = 0.0;
    for (int c = 0; c < n; ++c) {
      product += row[c] * x[c];
      rowSum += std::fabs(row[c]);
    }
    const double residual = std::fabs(product - b[r]);
    // fmax would pass over a NaN, so non-finite values are flagged separately.
    if (!std::isfinite(residual) || !std::isfinite(x[r])) nonFinite = true;
    residualNorm = std::fmax(residualNorm, residual);
    matrixNorm = std::fmax(matrixNorm, rowSum);
    solutionNorm = std::fmax(solutionNorm, std::fabs(x[r]));
    rhsNorm = std::fmax(rhsNorm, std::fabs(b[r]));
  }
  if (nonFinite) return std::numeric_limits<double>::quiet_NaN();
  // An exact solution scores 0 even when the denominator is 0 too (b = 0, x = 0).
  if (residualNorm == 0.0) return 0.0;
  const double eps = std::ldexp(1.0, -53);
  return residualNorm / (eps * (matrixNorm * solutionNorm + rhsNorm) * n);
}

namespace {

constexpr unsigned long long kFnvOffsetBasis = 14695981039346656037ULL;
constexpr unsigned long long kFnvPrime = 1099511628211ULL;

unsigned long long hashBytes(unsigned long long hash, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= kFnvPrime;
  }
  return hash;
}

}  // namespace

unsigned long long fingerprint(const double* a, const int* perm, int n) {
  if (n <= 0) return kFnvOffsetBasis;
  const std::size_t order = static_cast<std::size_t>(n);
  unsigned long long hash = hashBytes(kFnvOffsetBasis, a, order * order * sizeof(double));
  return hashBytes(hash, perm, order * sizeof(int));
}

std::string formatFingerprint(unsigned long long value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", value);
  return text;
}
