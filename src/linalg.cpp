#include "linalg.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "lu_steps.hpp"
#include "matrix_index.hpp"
#include "trailing_product.hpp"

void cache1(const double* left, const double* right, double* out, int n, int start, int /*bs*/,
            int first) {
  // Rows and columns [lo, n) receive the products over the inner range [kLo, lo).
  const int lo = std::max(start, 0);
  const int kLo = std::max(first, 0);
  if (lo >= n || kLo >= lo) return;
  runTrailingPass<kDoubleLanes>(left, right, out, nullptr, n, lo, kLo);
}

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

void luSolve(const int* perm, const double* a, const double* rhs, int n, double* x) {
  if (n <= 0) return;
  forwardSubstitute(perm, a, rhs, n, x);
  backSubstitute(a, x, n, x);
}

void mydtsrsm(const int* perm, const double* a, const double* rhs, int n) {
  if (n <= 0) return;
  // Work vectors y and x: on the stack up to the benchmark's order, on the heap above it, so a
  // large n cannot overflow the stack.
  std::array<double, 2 * kSolveStackOrder> onStack;
  std::vector<double> onHeap;
  double* y = onStack.data();
  if (n > kSolveStackOrder) {
    onHeap.resize(2 * static_cast<std::size_t>(n));
    y = onHeap.data();
  }
  double* x = y + n;
  forwardSubstitute(perm, a, rhs, n, y);
  backSubstitute(a, y, n, x);
  // x[0] depends on every other entry of x and y, so reading it through a volatile keeps the
  // whole solve from being discarded as dead code.
  volatile double keep = x[0];
  (void)keep;
}

void mydgetfr(int* perm, double* a, int n) {
  for (int i = 0; i < n; ++i) {
    // Pivot search and interchange for column i, then elimination of the whole trailing block.
    choosePanelPivots(a, perm, n, i, i + 1);
    for (int j = i + 1; j < n; ++j) eliminateRow(a + at(j, 0, n), a + at(i, 0, n), i, n);
  }
}

int diff(const double* ma, const double* mb, int n) {
  if (n <= 0) return 0;
  const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  double largest = std::fabs(ma[0] - mb[0]);
  for (std::size_t i = 0; i < count; ++i) {
    const double d = std::fabs(ma[i] - mb[i]);
    if (std::isnan(d)) return INT_MAX;
    if (d > largest) largest = d;
  }
  // 2^31 and above (infinity included) does not fit an int.
  if (largest >= 2147483648.0) return INT_MAX;
  return static_cast<int>(largest);
}

void printB(const double* v) {
  for (int i = 0; i < 16; ++i) std::printf("A[%i] = %lf\n", i, v[i]);
}
