#include "scalar_reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace reference {
namespace {

double& entry(double* m, int n, int r, int c) {
  return m[static_cast<std::size_t>(r) * n + c];
}
double entry(const double* m, int n, int r, int c) {
  return m[static_cast<std::size_t>(r) * n + c];
}

// Pivot search and interchange of column i, looking at rows i ... n-1. Returns 1 when singular.
int pivot(double* a, int* perm, int n, int i) {
  int p = i;
  double m = std::fabs(entry(a, n, i, i));
  for (int t = i + 1; t < n; ++t) {
    if (std::fabs(entry(a, n, t, i)) > m) {
      p = t;
      m = std::fabs(entry(a, n, t, i));
    }
  }
  if (m == 0.0) return 1;
  if (p != i) {
    std::swap(perm[i], perm[p]);
    for (int c = 0; c < n; ++c) std::swap(entry(a, n, i, c), entry(a, n, p, c));
  }
  return 0;
}

}  // namespace

int blockedLu(double* a, int* perm, double* s, int n, int b) {
  int singular = 0;
  for (long long ib = 0; ib < n; ib += b) {
    const int i0 = static_cast<int>(ib);
    const int end = static_cast<int>(std::fmin(static_cast<double>(ib + b), n));
    for (int i = i0; i < end; ++i) singular += pivot(a, perm, n, i);
    for (int i = i0; i < end; ++i) {
      for (int j = i + 1; j < end; ++j) {
        entry(a, n, j, i) = entry(a, n, j, i) / entry(a, n, i, i);
        for (int k = i + 1; k < end; ++k)
          entry(a, n, j, k) = entry(a, n, j, k) - entry(a, n, i, k) * entry(a, n, j, i);
      }
    }
    for (int i = i0; i < end; ++i) {
      for (int j = end; j < n; ++j) {
        entry(a, n, j, i) = entry(a, n, j, i) / entry(a, n, i, i);
        for (int k = i + 1; k < end; ++k)
          entry(a, n, j, k) = entry(a, n, j, k) - entry(a, n, i, k) * entry(a, n, j, i);
      }
    }
    for (int j = i0 + 1; j < end; ++j) {
      for (int k = end; k < n; ++k) {
        double sum = 0;
        for (int l = i0; l < j; ++l) sum = entry(a, n, l, k) * entry(a, n, j, l) + sum;
        entry(a, n, j, k) = entry(a, n, j, k) - sum;
      }
    }
    for (int r = end; r < n; ++r)
      for (int c = end; c < n; ++c) entry(s, n, r, c) = 0;
    cache1(a, a, s, n, end, i0);
    for (int r = end; r < n; ++r)
      for (int c = end; c < n; ++c) entry(a, n, r, c) = entry(a, n, r, c) - entry(s, n, r, c);
  }
  return singular;
}

void cache1(const double* left, const double* right, double* out, int n, int start, int first) {
  constexpr int T = 32;
  for (int ii = start; ii < n; ii += T)
    for (int jj = start; jj < n; jj += T)
      for (int kk = first; kk < start; kk += T)
        for (int r = ii; r < std::min(ii + T, n); ++r)
          for (int c = jj; c < std::min(jj + T, n); ++c) {
            double sum = entry(out, n, r, c);
            for (int k = kk; k < std::min(kk + T, start); ++k)
              sum = sum + entry(left, n, r, k) * entry(right, n, k, c);
            entry(out, n, r, c) = sum;
          }
}

void solve(const int* perm, const double* a, const double* rhs, int n, double* x) {
  std::vector<double> y(n);
  y[0] = rhs[perm[0]];
  for (int i = 1; i < n; ++i) {
    double sum = 0;
    for (int j = 0; j < i; ++j) sum = entry(a, n, i, j) * y[j] + sum;
    y[i] = rhs[perm[i]] - sum;
  }
  x[n - 1] = y[n - 1] / entry(a, n, n - 1, n - 1);
  for (int i = n - 2; i >= 0; --i) {
    double sum = 0;
    for (int j = i + 1; j < n; ++j) sum = entry(a, n, i, j) * x[j] + sum;
    x[i] = (y[i] - sum) / entry(a, n, i, i);
  }
}

int unblockedLu(int* perm, double* a, int n) {
  int singular = 0;
  for (int i = 0; i < n; ++i) {
    singular += pivot(a, perm, n, i);
    for (int j = i + 1; j < n; ++j) {
      entry(a, n, j, i) = entry(a, n, j, i) / entry(a, n, i, i);
      for (int k = i + 1; k < n; ++k)
        entry(a, n, j, k) = entry(a, n, j, k) - entry(a, n, i, k) * entry(a, n, j, i);
    }
  }
  return singular;
}

}  // namespace reference
