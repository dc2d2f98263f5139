#pragma once

// Checks of a finished solve, for tools that report on a run.

// HPL's scaled residual of the solution x of a x = b, a row-major n x n:
//   ||a x - b||_inf / (eps * (||a||_inf * ||x||_inf + ||b||_inf) * n),  eps = 2^-53.
// A correct factorisation and solve give a value of order 1 (HPL accepts below 16). NaN when
// x or the residual contains a NaN or an infinity. Requires n >= 1.
double scaledResidual(const double* a, const double* x, const double* b, int n);
