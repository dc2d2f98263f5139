#pragma once

// The benchmark's input data: the random matrix, the right-hand side and the starting
// permutation.

// Fills m[0 .. rows*cols) with pseudo-random doubles in [-1, 1]: seeds the C library's generator
// with the calendar time (srand(time(nullptr))), then m[i] = (2*r)/2147483647.0 - 1.0 in double,
// r being the next rand() value, for i in increasing order.
void randMatrixGen(double* m, int rows, int cols);

// randMatrixGen with a given seed instead of the calendar time: the same seed gives the same
// matrix on every build.
void randMatrixGenSeeded(double* m, int rows, int cols, unsigned seed);

// v[i] = i for i in [0, n): the benchmark's right-hand side.
void randMatrixGenB(double* v, int n);

// p[i] = i for i in [0, n): the identity permutation.
void randMatrixGenpvt(int* p, int n);
