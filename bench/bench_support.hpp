#pragma once

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

#include "blocking.hpp"
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

// Benchmarks' settings: the matrix's seed and the benchmark's block size.
inline constexpr unsigned kSeed = 1;
inline constexpr int kBlock = kBenchmarkBlock;

// GFLOP/s of flopsPerIteration over the seconds timed, as the benchmark's counter.
void reportRate(benchmark::State& state, double flopsPerIteration, double timedSeconds);

// Checks HPL's scaled residual of x against the original matrix and right-hand side, as the
// benchmark's counter. False (after marking the benchmark as failed) when it is not below the
// bound.
bool checkSolution(benchmark::State& state, const std::vector<double>& original,
                   const std::vector<double>& x, const double* rhs, int n);

// The monotonic clock now; throws std::runtime_error (after saying why) when it cannot be read.
timespec monotonicNow();
// Seconds from a monotonicNow() reading to now.
double secondsSince(const timespec& start);

// Operations of one cache1 call over the trailing region [start, n) with inner range
// [first, start): two per product term.
double productFlops(int n, int start, int first);

// Google Benchmark's loop with manual time: each iteration runs prepare() outside the timing,
// then work() between two readings of the monotonic clock, and counts that time alone. Returns
// the seconds timed in all, for the rate.
template <class Prepare, class Work>
double timeEachIteration(benchmark::State& state, Prepare prepare, Work work) {
  double timed = 0;
  for (auto _ : state) {
    prepare();
    const timespec start = monotonicNow();
    work();
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  return timed;
}
