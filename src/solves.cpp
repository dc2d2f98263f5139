#include "solves.hpp"

#include "blocking.hpp"
#include "matrix_index.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

namespace {

// y[0] = rhs[perm[0]]; y[i] = rhs[perm[i]] - sum_{j<i} a[i][j]*y[j], the sum from +0 in
// increasing j. A sum's terms before the previous row's unknown do not wait for it, so the sums
// of kForwardRows rows run side by side over the columns all of them can already use (each still
// in increasing j), and then finish one row after another. n >= 1.
void forwardSubstitute(const int* perm, const double* a, const double* rhs, int n, double* y) {
  y[0] = rhs[perm[0]];
  int first = 1;
  for (; first + kForwardRows <= n; first += kForwardRows) {
    const double* rows[kForwardRows];
    double s[kForwardRows];
    for (int r = 0; r < kForwardRows; ++r) {
      rows[r] = a + at(first + r, 0, n);
      s[r] = 0.0;
    }
    for (int j = 0; j < first; ++j) {
      const double known = y[j];
      for (int r = 0; r < kForwardRows; ++r) s[r] = rows[r][j] * known + s[r];
    }
    for (int r = 0; r < kForwardRows; ++r) {
      for (int j = first; j < first + r; ++j) s[r] = rows[r][j] * y[j] + s[r];
      y[first + r] = rhs[perm[first + r]] - s[r];
    }
  }
  for (int i = first; i < n; ++i) {
    const double* row = a + at(i, 0, n);
    double s = 0.0;
    for (int j = 0; j < i; ++j) s = row[j] * y[j] + s;
    y[i] = rhs[perm[i]] - s;
  }
}

// x[n-1] = y[n-1]/a[n-1][n-1]; x[i] = (y[i] - sum_{j>i} a[i][j]*x[j]) / a[i][i], the sum from
// +0 in increasing j. x may be the same array as y: y[i] is read before x[i] is written. n >= 1.
void backSubstitute(const double* a, const double* y, int n, double* x) {
  x[n - 1] = y[n - 1] / a[at(n - 1, n - 1, n)];
  for (int i = n - 2; i >= 0; --i) {
    const double* row = a + at(i, 0, n);
    double s = 0.0;
    for (int j = i + 1; j < n; ++j) s = row[j] * x[j] + s;
    x[i] = (y[i] - s) / row[i];
  }
}

}  // namespace

void solveTriangles(const int* perm, const double* a, const double* rhs, int n, double* y,
                    double* x) {
  forwardSubstitute(perm, a, rhs, n, y);
  backSubstitute(a, y, n, x);
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
