#pragma once

#include <ctime>
#include <vector>

#include "memory.hpp"

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
  int n_;
  std::vector<double> original_;
  AlignedBuffer<double> a_;
  AlignedBuffer<double> s_;
  std::vector<int> perm_;
  std::vector<double> rhs_;
};

// The monotonic clock now; throws std::runtime_error (after saying why) when it cannot be read.
timespec monotonicNow();
// Seconds from a monotonicNow() reading to now.
double secondsSince(const timespec& start);

// Operations of one cache1 call over the trailing region [start, n) with inner range
// [first, start): two per product term.
double productFlops(int n, int start, int first);
