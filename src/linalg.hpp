#pragma once

// Numerical routines over dense row-major matrices of order n: entry (r, c) at r*n + c.
// A factorised matrix holds the multipliers of L strictly below the diagonal (L's unit
// diagonal is not stored) and U on and above it. A permutation vector perm has n entries;
// perm[r] names the input row that stands at position r after the row interchanges.
//
// Every routine performs its arithmetic in a fixed scalar order: each product is rounded,
// then each sum, sums run in the order documented here, and no multiply is fused with an add.
// Results are therefore bit-identical on every compiler, optimisation level and instruction set.

#include "blocking.hpp"

// Trailing product of the blocked factorisation. For every r, c in [start, n):
//   out[r*n + c] = out[r*n + c] + left[r*n + a] * right[a*n + c]   for a = first, ..., start-1,
// one rounded product and one rounded sum at a time, in increasing a. Reads left and right,
// reads and overwrites out in the square [start, n) x [start, n) and nothing else.
// The work is done in tiles of kTileEdge; tiles are clipped at n and at start, so any n, start
// and first are safe (negative start or first are treated as 0; nothing happens when
// start >= n or first >= start). bs is the caller's block size and is not read.
void cache1(const double* left, const double* right, double* out, int n, int start, int bs,
            int first);

// Solves L*y = P*rhs by forward substitution and U*x = y by back substitution on a matrix
// factorised by blockedLu or mydgetfr, then discards x. Reads perm (n entries naming the rhs
// entry of each row), a (n x n) and rhs (n); writes none of them. The work vectors live on the
// stack for n <= 4096 and on the heap above that. A zero diagonal entry of U gives IEEE
// infinities or NaNs; nothing is printed. Does nothing for n <= 0.
void mydtsrsm(const int* perm, const double* a, const double* rhs, int n);

// The same solve as mydtsrsm, with the solution written to x (n entries):
//   y[0] = rhs[perm[0]];  y[i] = rhs[perm[i]] - s,  s = sum over j < i of a[i][j]*y[j]
//   x[n-1] = y[n-1] / a[n-1][n-1];  x[i] = (y[i] - s) / a[i][i],  s = sum over j > i of
//   a[i][j]*x[j]
// Each sum starts from +0 and adds the products in increasing j. x must not overlap perm, a or
// rhs. Does nothing for n <= 0.
void luSolve(const int* perm, const double* a, const double* rhs, int n, double* x);

// Unblocked LU factorisation with partial pivoting, in place, column by column. For each column
// i: the pivot is the first row t >= i of largest magnitude |a[t][i]| (a NaN never wins); when
// that magnitude is zero, prints "LUfactoration failed: coefficient matrix is singular" on
// standard output and makes no interchange; otherwise swaps rows i and p of a (all n columns) and
// entries i and p of perm. Then eliminates below the diagonal in every case, dividing by a[i][i]
// as it stands (a zero pivot yields NaNs that flow on). perm is normally the identity on entry.
void mydgetfr(int* perm, double* a, int n);

// Largest entry-wise magnitude |ma[i] - mb[i]| over the n*n entries, truncated toward zero.
// A NaN difference anywhere (a NaN entry, or equal infinities) and any difference of 2^31 or
// more saturate to INT_MAX: the routine never reports matrices as closer than it can vouch for.
// Returns 0 for n <= 0 and reads nothing then.
int diff(const double* ma, const double* mb, int n);

// Prints v[0] ... v[15] on standard output, one line each, as "A[%i] = %lf\n".
// v must hold at least 16 entries.
void printB(const double* v);
