#include "lu_steps.hpp"

#include <cstdio>

#include "matrix_index.hpp"
#include "simd.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

namespace {

// Exchanges rows i and p of a across all n columns.
void swapRows(double* a, int n, int i, int p) {
  double* rowI = a + at(i, 0, n);
  double* rowP = a + at(p, 0, n);
  for (int c = 0; c < n; ++c) {
    const double entry = rowI[c];
    rowI[c] = rowP[c];
    rowP[c] = entry;
  }
}

// Exchanges two doubles.
void swapEntries(double& x, double& y) {
  const double held = x;
  x = y;
  y = held;
}

// Goes on with a scan for the first entry of largest magnitude over column[from, count): an
// entry takes the place of *best (at index offset + t) only when its magnitude is strictly
// larger than *bestMagnitude, so the earlier entry wins ties and a NaN never wins.
void scanLargestMagnitude(const double* column, int from, int count, int offset, int* best,
                          double* bestMagnitude) {
  for (int t = from; t < count; ++t) {
    const double magnitude = __builtin_fabs(column[t]);
    if (magnitude > *bestMagnitude) {
      *best = offset + t;
      *bestMagnitude = magnitude;
    }
  }
}

// The interchanges chosen so far but not yet made in the matrix: which physical row of a stands,
// in the factorisation's order, at each position they touched. Positions not listed hold their
// own row.
class PendingInterchanges {
 public:
  // The physical row standing at position.
  int source(int position) const {
    for (int i = 0; i < count_; ++i) {
      if (positions_[i] == position) return sources_[i];
    }
    return position;
  }
  // Exchanges the rows standing at positions i and p.
  void exchange(int i, int p) {
    const int sourceOfI = source(i);
    set(i, source(p));
    set(p, sourceOfI);
  }
  int count() const { return count_; }
  int position(int k) const { return positions_[k]; }
  int sourceAt(int k) const { return sources_[k]; }

 private:
  void set(int position, int source) {
    for (int i = 0; i < count_; ++i) {
      if (positions_[i] == position) {
        sources_[i] = source;
        return;
      }
    }
    positions_[count_] = position;
    sources_[count_] = source;
    ++count_;
  }
  int positions_[2 * kMaxPivotSearchColumns];
  int sources_[2 * kMaxPivotSearchColumns];
  int count_ = 0;
};

// Copies columns [col, col + width) of the rows standing at positions [top, top + rows) into
// copy, column by column (column c at copy + c * rows), as the pending interchanges order them.
void copyColumns(const double* a, int n, int top, int rows, int col, int width,
                 const PendingInterchanges& pending, double* copy) {
  for (int t = 0; t < rows; ++t) {
    const double* row = a + at(top + t, col, n);
    // Rows are too far apart for the hardware to fetch ahead by itself.
    if (t + kCopyPrefetchRows < rows) __builtin_prefetch(row + kCopyPrefetchRows * n);
    for (int c = 0; c < width; ++c) copy[c * rows + t] = row[c];
  }
  for (int k = 0; k < pending.count(); ++k) {
    const int t = pending.position(k) - top;
    if (t < 0 || t >= rows) continue;
    const double* row = a + at(pending.sourceAt(k), col, n);
    for (int c = 0; c < width; ++c) copy[c * rows + t] = row[c];
  }
}

// First position t in [i, n) of largest |a[t][i]| in column i as the pending interchanges order
// the rows, for a column taller than the copy: scanned a piece at a time.
int firstLargestInTallColumn(const double* a, int n, int i, const PendingInterchanges& pending,
                             double* copy, int copyEntries, double* largest) {
  int best = i;
  for (int top = i; top < n; top += copyEntries) {
    const int rows = smallerOf(copyEntries, n - top);
    copyColumns(a, n, top, rows, i, 1, pending, copy);
    if (top == i) *largest = __builtin_fabs(copy[0]);
    scanLargestMagnitude(copy, top == i ? 1 : 0, rows, top, &best, largest);
  }
  return best;
}

}  // namespace

int searchPanelPivots(const double* a, int n, int first, int end, int* pivotRows) {
  alignas(64) double copy[kPivotCopyEntries];
  return searchPanelPivotsWithCopy(a, n, first, end, pivotRows, copy, kPivotCopyEntries);
}

int searchPanelPivotsWithCopy(const double* a, int n, int first, int end, int* pivotRows,
                              double* copy, int copyEntries) {
  // Rows n apart share a few cache sets, so a column walked down the matrix is fetched from
  // memory again for every column of the block. Instead, a group of columns is copied once,
  // column by column into contiguous memory (each row's entries of the group are adjacent in a),
  // and searched there; every interchange is made in the copy and recorded as pending. Columns
  // taller than the copy are searched a piece at a time.
  PendingInterchanges pending;
  int singularColumns = 0;
  for (int group = first, width = 0; group < end; group += width) {
    const int rows = n - group;
    const bool copied = rows <= copyEntries;
    // As many columns as the copy holds, in whole cache lines of each row where it holds more
    // than one line's worth.
    int capacity = copied ? copyEntries / rows : 1;
    if (capacity > kDoublesPerLine) capacity -= capacity % kDoublesPerLine;
    width = smallerOf(end - group, capacity);
    if (copied) copyColumns(a, n, group, rows, group, width, pending, copy);
    for (int c = 0; c < width; ++c) {
      const int i = group + c;
      // First row of largest magnitude in column i from the diagonal down.
      double largest = 0.0;
      int pivotRow = i;
      if (copied) {
        const double* column = copy + c * rows;
        largest = __builtin_fabs(column[c]);
        scanLargestMagnitude(column, c + 1, rows, group, &pivotRow, &largest);
      } else {
        pivotRow = firstLargestInTallColumn(a, n, i, pending, copy, copyEntries, &largest);
      }
      if (largest == 0.0) {
        std::puts("LUfactoration failed: coefficient matrix is singular");
        ++singularColumns;
        pivotRows[i - first] = i;
        continue;
      }
      pivotRows[i - first] = pivotRow;
      if (pivotRow != i) {
        pending.exchange(i, pivotRow);
        // The copy's later columns follow; the earlier ones are not searched again.
        for (int k = c + 1; copied && k < width; ++k) {
          swapEntries(copy[k * rows + c], copy[k * rows + pivotRow - group]);
        }
      }
    }
  }
  return singularColumns;
}

void applyPanelInterchanges(double* a, int* perm, int n, int first, int end,
                            const int* pivotRows) {
  for (int i = first; i < end; ++i) {
    const int p = pivotRows[i - first];
    if (p == i) continue;
    const int entry = perm[i];
    perm[i] = perm[p];
    perm[p] = entry;
    swapRows(a, n, i, p);
  }
}

int choosePanelPivots(double* a, int* perm, int n, int first, int end) {
  // A few columns at a time, so the pending interchanges stay within their fixed capacity.
  int pivotRows[kMaxPivotSearchColumns];
  int singularColumns = 0;
  for (int from = first, to = 0; from < end; from = to) {
    to = smallerOf(end, from + kMaxPivotSearchColumns);
    singularColumns += searchPanelPivots(a, n, from, to, pivotRows);
    applyPanelInterchanges(a, perm, n, from, to, pivotRows);
  }
  return singularColumns;
}

void eliminateDiagonalBlock(double* a, int n, int first, int end) {
  for (int i = first; i < end; ++i) {
    for (int j = i + 1; j < end; ++j) eliminateRow(a + at(j, 0, n), a + at(i, 0, n), i, end);
  }
}

namespace {

// Asks the cache for columns [first, end) of rows [from, to): rows n apart are too far apart for
// the hardware to fetch ahead by itself. Affects speed only.
void prefetchRowSegments(const double* a, int n, int from, int to, int first, int end) {
  for (int r = from; r < to; ++r) {
    const double* row = a + at(r, 0, n);
    for (int c = first; c < end; c += kDoublesPerLine) __builtin_prefetch(row + c);
    __builtin_prefetch(row + end - 1);
  }
}

// computeMultipliers for the Groups * kDoubleLanes rows [j, j + Groups * kDoubleLanes), one row
// per lane: the block's columns are copied into one vector per column and group, each lane then
// sees exactly the scalar row operations in the same order, and the columns are copied back. The
// groups are independent, so their divisions and updates overlap instead of waiting on each
// other.
template <int Groups>
void computeMultipliersAcrossRows(double* a, int n, int first, int end, int j) {
  using Vector = DoubleVector<kDoubleLanes>;
  const int width = end - first;
  Vector column[Groups][kMaxVectorBlock];
  for (int g = 0; g < Groups; ++g) {
    for (int lane = 0; lane < kDoubleLanes; ++lane) {
      const double* row = a + at(j + g * kDoubleLanes + lane, first, n);
      for (int k = 0; k < width; ++k) column[g][k][lane] = row[k];
    }
  }
  for (int i = 0; i < width; ++i) {
    const double* pivotRow = a + at(first + i, first, n);
    const Vector pivot = broadcast<kDoubleLanes>(pivotRow[i]);
    for (int g = 0; g < Groups; ++g) column[g][i] = column[g][i] / pivot;
    for (int k = i + 1; k < width; ++k) {
      const Vector upper = broadcast<kDoubleLanes>(pivotRow[k]);
      for (int g = 0; g < Groups; ++g) column[g][k] = column[g][k] - upper * column[g][i];
    }
  }
  for (int g = 0; g < Groups; ++g) {
    for (int lane = 0; lane < kDoubleLanes; ++lane) {
      double* row = a + at(j + g * kDoubleLanes + lane, first, n);
      for (int k = 0; k < width; ++k) row[k] = column[g][k][lane];
    }
  }
}

}  // namespace

void computeMultipliers(double* a, int n, int first, int end) {
  // Row j's operations read only row j and the finished diagonal block, so the rows may be
  // taken in any grouping; within each row the columns i run in increasing order.
  int j = end;
  if (end - first <= kMaxVectorBlock) {
    constexpr int kRows = kMultiplierGroups * kDoubleLanes;
    for (; j + kRows <= n; j += kRows) {
      prefetchRowSegments(a, n, j + kRows, smallerOf(j + 2 * kRows, n), first, end);
      computeMultipliersAcrossRows<kMultiplierGroups>(a, n, first, end, j);
    }
    for (; j + kDoubleLanes <= n; j += kDoubleLanes) {
      computeMultipliersAcrossRows<1>(a, n, first, end, j);
    }
  }
  for (; j < n; ++j) {
    double* row = a + at(j, 0, n);
    for (int i = first; i < end; ++i) eliminateRow(row, a + at(i, 0, n), i, end);
  }
}

void solveBlockRowOfU(double* a, int n, int first, int end) {
  // Columns are independent: each chunk of columns is finished for all the block's rows before
  // the next, so the chunk's rows stay in the first-level cache; each row keeps one running sum
  // per column, every sum in increasing l from +0, and rows run in increasing j.
  for (int k0 = end, width = 0; k0 < n; k0 += width) {
    width = smallerOf(kBlockRowChunk, n - k0);
    // The block's rows of the next chunk, which the hardware does not fetch ahead by itself.
    if (k0 + width < n) {
      prefetchRowSegments(a, n, first, end, k0 + width, smallerOf(k0 + width + kBlockRowChunk, n));
    }
    for (int j = first + 1; j < end; ++j) {
      double* row = a + at(j, 0, n);
      double sum[kBlockRowChunk] = {};
      for (int l = first; l < j; ++l) {
        const double multiplier = row[l];
        const double* upper = a + at(l, k0, n);
        for (int c = 0; c < width; ++c) sum[c] = upper[c] * multiplier + sum[c];
      }
      for (int c = 0; c < width; ++c) row[k0 + c] = row[k0 + c] - sum[c];
    }
  }
}

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
