#include "linalg.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "matrix_index.hpp"
#include "timed_region.hpp"

void cache1(const double* left, const double* right, double* out, int n, int start, int /*bs*/,
            int first) {
  // Rows and columns [lo, n) receive the products over the inner range [kLo, lo).
  const int lo = std::max(start, 0);
  const int kLo = std::max(first, 0);
  if (lo >= n || kLo >= lo) return;
  const KernelChoice run = resolvedChoiceOrWidest(KernelChoice{});
  run.path->routines.trailingPass(left, right, out, nullptr, n,
                                  TrailingRegion{lo, n, lo, n, kLo, lo - kLo, 1, {}}, *run.kernel);
}

void luSolve(const int* perm, const double* a, const double* rhs, int n, double* x) {
  if (n <= 0) return;
  resolvedChoiceOrWidest(KernelChoice{}).path->routines.solve(perm, a, rhs, n, x, x);
}

void mydtsrsm(const int* perm, const double* a, const double* rhs, int n) {
  solveOnPath(*resolvedChoiceOrWidest(KernelChoice{}).path, perm, a, rhs, n);
}

void mydgetfr(int* perm, double* a, int n) {
  const PathRoutines& path = resolvedChoiceOrWidest(KernelChoice{}).path->routines;
  for (int i = 0; i < n; ++i) {
    // Pivot search and interchange for column i, then elimination of the whole trailing block:
    // row[i] = row[i] / pivotRow[i]; row[k] = row[k] - pivotRow[k] * row[i] for k in (i, n).
    path.choosePanelPivots(a, perm, n, i, i + 1);
    const double* pivotRow = a + at(i, 0, n);
    for (int j = i + 1; j < n; ++j) {
      double* row = a + at(j, 0, n);
      row[i] = row[i] / pivotRow[i];
      for (int k = i + 1; k < n; ++k) row[k] = row[k] - pivotRow[k] * row[i];
    }
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
