#pragma once

#include <string>

// The machine's LAPACK as a peer of lubench's factorisation and solve, where the build links
// LAPACKE; otherwise every function reports that it is absent.

// True when this build links LAPACKE.
bool lapackAvailable();

// The library and, where it can say, the kernel it chose for this processor, e.g.
// "OpenBLAS 0.3.21 ... (kernel Cooperlake)". OpenBLAS reads OPENBLAS_CORETYPE from the
// environment, which may pin it to another kernel than its own choice.
std::string lapackDescription();

// Factorises the column-major n x n matrix a in place (dgetrf, partial pivoting) and solves
// a x = b with the factors (dgetrs): x holds b on entry and the solution on return; pivots has
// n entries. Returns LAPACK's info: 0 on success, > 0 for an exactly zero pivot; -1 when the
// build has no LAPACKE.
int lapackFactoriseAndSolve(double* a, int* pivots, double* x, int n);
