#include "lu_steps.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "matrix_index.hpp"
#include "simd.hpp"
#include "trailing_product.hpp"

namespace {

// Exchanges rows i and p of a across all n columns.
void swapRows(double* a, int n, int i, int p) {
  std::swap_ranges(a + at(i, 0, n), a + at(i, 0, n) + n, a + at(p, 0, n));
}

}  // namespace

int choosePanelPivots(double* a, int* perm, int n, int first, int end) {
  int singularColumns = 0;
  for (int i = first; i < end; ++i) {
    // First row of largest magnitude in column i from the diagonal down; a NaN never wins.
    int pivotRow = i;
    double largest = std::fabs(a[at(i, i, n)]);
    for (int t = i + 1; t < n; ++t) {
      const double magnitude = std::fabs(a[at(t, i, n)]);
      if (magnitude > largest) {
        pivotRow = t;
        largest = magnitude;
      }
    }
    if (largest == 0.0) {
      std::puts("LUfactoration failed: coefficient matrix is singular");
      ++singularColumns;
      continue;
    }
    if (pivotRow != i) {
      std::swap(perm[i], perm[pivotRow]);
      swapRows(a, n, i, pivotRow);
    }
  }
  return singularColumns;
}

void eliminateDiagonalBlock(double* a, int n, int first, int end) {
  for (int i = first; i < end; ++i) {
    for (int j = i + 1; j < end; ++j) eliminateRow(a + at(j, 0, n), a + at(i, 0, n), i, end);
  }
}

namespace {

// Widest block whose rows computeMultipliers takes kDoubleLanes at a time.
constexpr int kMaxVectorBlock = 64;

// computeMultipliers for the kDoubleLanes rows [j, j + kDoubleLanes), one row per lane: the
// block's columns are copied into one vector per column, each lane then sees exactly the scalar
// row operations in the same order, and the columns are copied back.
void computeMultipliersAcrossRows(double* a, int n, int first, int end, int j) {
  using Vector = DoubleVector<kDoubleLanes>;
  const int width = end - first;
  Vector column[kMaxVectorBlock];
  for (int lane = 0; lane < kDoubleLanes; ++lane) {
    const double* row = a + at(j + lane, first, n);
    for (int k = 0; k < width; ++k) column[k][lane] = row[k];
  }
  for (int i = 0; i < width; ++i) {
    const double* pivotRow = a + at(first + i, first, n);
    column[i] = column[i] / broadcast<kDoubleLanes>(pivotRow[i]);
    for (int k = i + 1; k < width; ++k) {
      column[k] = column[k] - broadcast<kDoubleLanes>(pivotRow[k]) * column[i];
    }
  }
  for (int lane = 0; lane < kDoubleLanes; ++lane) {
    double* row = a + at(j + lane, first, n);
    for (int k = 0; k < width; ++k) row[k] = column[k][lane];
  }
}

}  // namespace

void computeMultipliers(double* a, int n, int first, int end) {
  // Row j's operations read only row j and the finished diagonal block, so the rows may be
  // taken in any grouping; within each row the columns i run in increasing order.
  int j = end;
  if (end - first <= kMaxVectorBlock) {
    for (; j + kDoubleLanes <= n; j += kDoubleLanes)
      computeMultipliersAcrossRows(a, n, first, end, j);
  }
  for (; j < n; ++j) {
    double* row = a + at(j, 0, n);
    for (int i = first; i < end; ++i) eliminateRow(row, a + at(i, 0, n), i, end);
  }
}

void solveBlockRowOfU(double* a, int n, int first, int end) {
  // Columns are independent: each chunk of columns keeps one running sum per column, every sum
  // in increasing l from +0.
  constexpr int kChunk = 64;
  for (int j = first + 1; j < end; ++j) {
    double* row = a + at(j, 0, n);
    for (int k0 = end, width = 0; k0 < n; k0 += width) {
      width = std::min(kChunk, n - k0);
      double sum[kChunk] = {};
      for (int l = first; l < j; ++l) {
        const double multiplier = row[l];
        const double* upper = a + at(l, k0, n);
        for (int c = 0; c < width; ++c) sum[c] = upper[c] * multiplier + sum[c];
      }
      for (int c = 0; c < width; ++c) row[k0 + c] = row[k0 + c] - sum[c];
    }
  }
}

void updateTrailingSubmatrix(double* a, double* s, int n, int first, int end) {
  if (end >= n || first >= end) return;
  runTrailingPass<kDoubleLanes>(a, a, s, a, n, end, first);
}
