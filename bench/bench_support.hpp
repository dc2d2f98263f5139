#pragma once

#include <cstdlib>
#include <memory>
#include <vector>

// A linear system of order n as the benchmark builds it: the seeded random matrix, the
// right-hand side 0, 1, ..., n-1, the identity permutation and a zeroed scratch matrix, in the
// same 64-byte-aligned, pre-mapped buffers lubench uses.
class LuProblem {
 public:
  LuProblem(int n, unsigned seed);

  // Restores the matrix and the permutation to their state before a factorisation.
  void reset();

  int n() const { return n_; }
  double* a() { return a_.get(); }
  double* s() { return s_.get(); }
  int* perm() { return perm_.data(); }
  const double* rhs() const { return rhs_.data(); }
  const std::vector<double>& original() const { return original_; }

 private:
  struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
  };
  int n_;
  std::vector<double> original_;
  std::unique_ptr<double[], FreeDeleter> a_;
  std::unique_ptr<double[], FreeDeleter> s_;
  std::vector<int> perm_;
  std::vector<double> rhs_;
};

// Floating-point operations of one factorisation and solve as HPL counts them:
// 2/3 n^3 + 3/2 n^2.
double luSolveFlops(int n);

// Operations of one cache1 call over the trailing region [start, n) with inner range
// [first, start): two per product term.
double productFlops(int n, int start, int first);
