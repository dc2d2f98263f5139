#pragma once

#include "vector_paths.hpp"

// What every tool that times the factorisation shares: the operation count a rate is credited
// with, LAPACK's column-major copy of a matrix, and this core's peak rate.

// 2/3 n^3 + 3/2 n^2, the operation count HPL credits to a solve of order n.
double hplFlops(int n);

// columnMajor[c * n + r] = rowMajor[r * n + c] for the n x n matrix: the transposed layout
// LAPACK works in natively. The two must not overlap.
void copyToColumnMajor(const double* rowMajor, double* columnMajor, int n);

// This core's peak rate for separate multiplies and adds, as the factorisation does them,
// measured now by chains of operations that depend on nothing but the core (not by the
// project's own kernel, so a slower kernel cannot raise the efficiency taken of it); the tile
// kernel's rate in the first-level cache beside it; and the fused multiply-add rate for
// comparison. Each the best of several tries; not data-sheet figures.
struct PeakMeasurement {
  double gflops = 0;        // separate multiplies and adds: the peak efficiencies are taken of
  double kernelGflops = 0;  // the tile kernel on operands in the first-level cache
  int tries = 0;
  double seconds = 0;      // time spent measuring
  double fusedGflops = 0;  // best rate of chains of fused multiply-adds
  bool fusedInstruction = false;  // the path measured has a fused multiply-add instruction
};
// Tries of about a tenth of maxSeconds / 2 each for the peak, then for the kernel, stopping
// before a further try could pass the time; then three short tries of fused multiply-add chains.
// All zero when the clock cannot be read. Measured on choice's vector path (resolved as
// resolveChoice does), the tile kernel's rate with choice's kernel.
PeakMeasurement measurePeak(double maxSeconds, const KernelChoice& choice = {});
