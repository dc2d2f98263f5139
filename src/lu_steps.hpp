#pragma once

#include "blocking.hpp"
#include "path_namespace.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

// The steps of one pass of the blocked LU factorisation over the column block [first, end) of a
// row-major n x n matrix a. blockedLu runs them in this order for each block; they are separate
// so that tests and tools can drive and time them one by one. Every step requires
// 0 <= first < end <= n.

// One row operation of the elimination with pivot row i, over the columns [i, end):
//   row[i] = row[i] / pivotRow[i];  row[k] = row[k] - pivotRow[k] * row[i]  for k in (i, end).
inline void eliminateRow(double* row, const double* pivotRow, int i, int end) {
  row[i] = row[i] / pivotRow[i];
  const double multiplier = row[i];
  for (int k = i + 1; k < end; ++k) row[k] = row[k] - pivotRow[k] * multiplier;
}

// Chooses the pivots of columns first ... end-1 in increasing order, before any of them is
// eliminated. Column i's pivot is the first row t >= i of largest |a[t][i]| in the column as it
// then stands (a NaN never wins). A zero magnitude prints "LUfactoration failed: coefficient
// matrix is singular" on standard output and makes no interchange; otherwise rows i and p of a
// are exchanged across all n columns, and entries i and p of perm. Returns the number of
// columns reported singular.
int choosePanelPivots(double* a, int* perm, int n, int first, int end);

// choosePanelPivots' search alone, for end - first <= kMaxPivotSearchColumns: the same pivots and
// messages, with each interchange recorded instead of made, so that a matrix whose rows will
// move can be brought up to date first. pivotRows[i - first] receives the row exchanged with row
// i (i itself for no interchange), to be applied in increasing i. Reads a; returns the number
// of columns reported singular.
int searchPanelPivots(const double* a, int n, int first, int end, int* pivotRows);

// searchPanelPivots with a column copy of copyEntries doubles (>= 1) supplied by the caller: the
// same pivots and messages for any size, columns taller than the copy searched a piece at a time.
// searchPanelPivots passes a copy on its stack; tests pass small ones to reach every path.
int searchPanelPivotsWithCopy(const double* a, int n, int first, int end, int* pivotRows,
                              double* copy, int copyEntries);

// Makes the interchanges searchPanelPivots chose, in order: rows i and pivotRows[i - first] of
// a across all n columns and the same entries of perm.
void applyPanelInterchanges(double* a, int* perm, int n, int first, int end, const int* pivotRows);

// Eliminates within the diagonal block: for i in [first, end), for j in (i, end):
//   a[j][i] = a[j][i] / a[i][i];  a[j][k] = a[j][k] - a[i][k] * a[j][i]  for k in (i, end).
void eliminateDiagonalBlock(double* a, int n, int first, int end);

// The same elimination for the rows below the block, j in [end, n), restricted to the block's
// columns. Needs the finished diagonal block; each row depends only on itself and that block.
void computeMultipliers(double* a, int n, int first, int end);

// Block row of U: for j in (first, end), k in [end, n):
//   a[j][k] = a[j][k] - s,  s = sum over l = first ... j-1 of a[l][k] * a[j][l]
// with s starting from +0 and summed in increasing l; rows run in increasing j.
void solveBlockRowOfU(double* a, int n, int first, int end);

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
