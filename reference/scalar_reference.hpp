#pragma once

// Plain scalar renderings of the numerical steps, written as directly from their definitions as
// possible, with no attention to speed: the oracle that the optimised routines are compared
// with, byte for byte, by the tests, the benchmarks and lubench-report. Each factorisation
// returns the number of columns it found singular instead of printing a message.
namespace reference {

int blockedLu(double* a, int* perm, double* s, int n, int b);
void cache1(const double* left, const double* right, double* out, int n, int start, int first);
void solve(const int* perm, const double* a, const double* rhs, int n, double* x);
int unblockedLu(int* perm, double* a, int n);

}  // namespace reference
