#pragma once

#include "path_namespace.hpp"

namespace lubench::LUBENCH_PATH_NAMESPACE {

// Both triangular solves of a factorised matrix (luSolve's contract in linalg.hpp) into y and x,
// n entries each: forward substitution into y, then back substitution into x, which may be the
// same array as y. n >= 1.
void solveTriangles(const int* perm, const double* a, const double* rhs, int n, double* y,
                    double* x);

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
