#pragma once

// Checks of a finished factorisation and solve, for tools that report on a run.

#include <string>

// HPL's scaled residual of the solution x of a x = b, a row-major n x n:
//   ||a x - b||_inf / (eps * (||a||_inf * ||x||_inf + ||b||_inf) * n),  eps = 2^-53.
// A correct factorisation and solve give a value of order 1 (HPL accepts below 16). 0 when
// a x equals b exactly; NaN when x or the residual contains a NaN or an infinity. Requires n >= 1.
double scaledResidual(const double* a, const double* x, const double* b, int n);

// HPL's acceptance bound: a run passes when its scaled residual is below it.
inline constexpr double kResidualBound = 16.0;
// r < kResidualBound; a NaN residual fails.
inline bool residualPassed(double residual) { return residual < kResidualBound; }

// 64-bit FNV-1a hash of the bytes of the n x n matrix a followed by those of the n entries of
// perm: identical on every build that produces the same factorisation (on machines of the same
// byte order). Shown as 16 hexadecimal digits by formatFingerprint.
unsigned long long fingerprint(const double* a, const int* perm, int n);
// The fingerprint as 16 lower-case hexadecimal digits.
std::string formatFingerprint(unsigned long long value);
