#include "verification.hpp"

#include <cmath>
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
  const double eps = std::ldexp(1.0, -53);
  return residualNorm / (eps * (matrixNorm * solutionNorm + rhsNorm) * n);
}
