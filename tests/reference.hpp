#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "scalar_reference.hpp"
#include "vector_paths.hpp"

// Equal when every pair of doubles has the same bytes, or both are NaNs.
::testing::AssertionResult sameBits(const std::vector<double>& expected,
                                    const std::vector<double>& actual);

// Row-major n x n matrix with entries in [-1, 1] drawn from the benchmark's generator.
std::vector<double> randomMatrix(int n, unsigned seed);
// n entries in [-1, 1] from the same generator.
std::vector<double> randomVector(int n, unsigned seed);
std::vector<int> identityPermutation(int n);
// The benchmark's right-hand side 0, 1, ..., n-1.
std::vector<double> rampVector(int n);

// Backward-error check of a solve through a factorisation lu of a (any row order). Rounding
// analysis of LU and the two substitutions bounds |rhs - A x| by about 3 n u |L||U| |x|, u = 2^-53,
// whatever the growth of the entries; returns ||A x - rhs||_inf / (3 n u || |L||U| ||_inf
// ||x||_inf), which is below 1 for a correct factorisation and solve.
double residualRatio(const std::vector<double>& a, const std::vector<double>& lu,
                     const std::vector<double>& x, const std::vector<double>& rhs, int n);

// True when perm holds each of 0 ... n-1 exactly once.
bool isPermutation(const std::vector<int>& perm);

// Runs work with standard output captured; returns how many lines equal the singular message.
int countSingularMessages(const std::function<void()>& work);

// Every vector path this CPU runs with each of its tile kernels, widest path first.
std::vector<KernelChoice> runnableKernels();
// "avx512 / pipelined_3x4v8", for traces.
std::string describe(const KernelChoice& choice);
