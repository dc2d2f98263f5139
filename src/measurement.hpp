#pragma once

// What every tool that times the factorisation shares: the operation count a rate is credited
// with, LAPACK's column-major copy of a matrix, and this core's peak rate.

// 2/3 n^3 + 3/2 n^2, the operation count HPL credits to a solve of order n.
double hplFlops(int n);

// columnMajor[c * n + r] = rowMajor[r * n + c] for the n x n matrix: the transposed layout
// LAPACK works in natively. The two must not overlap.
void copyToColumnMajor(const double* rowMajor, double* columnMajor, int n);

// The tile kernel's rate on operands in the first-level cache, measured on this core now: the
// best of several tries within a fixed time. Separate multiplies and adds, as the factorisation
// does them; not a data-sheet figure.
struct PeakMeasurement {
  double gflops = 0;
  int tries = 0;
  double seconds = 0;      // time spent measuring
  double fusedGflops = 0;  // best rate of chains of fused multiply-adds
};
// Tries of about a tenth of maxSeconds each, stopping before a further try could pass it; then
// three short tries of fused multiply-add chains. All zero when the clock cannot be read.
PeakMeasurement measurePeak(double maxSeconds);
