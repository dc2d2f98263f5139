#include "bench_support.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "clock.hpp"
#include "memory.hpp"
#include "test_data.hpp"
#include "verification.hpp"

namespace {

AlignedBuffer<double> allocateMatrix(int n, const char* what) {
  const std::size_t entries = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  AlignedBuffer<double> buffer = allocateBuffer<double>(entries, what, "lubench_bench");
  if (!buffer) throw std::bad_alloc();
  return buffer;
}

}  // namespace

LuProblem::LuProblem(int n, unsigned seed)
    : n_(n),
      original_(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)),
      a_(allocateMatrix(n, "matrix A")),
      s_(allocateMatrix(n, "scratch product matrix")),
      perm_(static_cast<std::size_t>(n)),
      rhs_(static_cast<std::size_t>(n)) {
  randMatrixGenSeeded(original_.data(), n, n, seed);
  randMatrixGenB(rhs_.data(), n);
  reset();
}

void LuProblem::reset() {
  std::copy(original_.begin(), original_.end(), a_.get());
  randMatrixGenpvt(perm_.data(), n_);
}

timespec monotonicNow() {
  timespec now{};
  if (!readMonotonicClock(now, "lubench_bench")) throw std::runtime_error("no monotonic clock");
  return now;
}

double secondsSince(const timespec& start) {
  return elapsedNanoseconds(start, monotonicNow()) * 1e-9;
}

double productFlops(int n, int start, int first) {
  const double side = n - start;
  return 2.0 * side * side * (start - first);
}

void reportRate(benchmark::State& state, double flopsPerIteration, double timedSeconds) {
  state.counters["GFLOP/s"] =
      flopsPerIteration * static_cast<double>(state.iterations()) / timedSeconds / 1e9;
}

bool checkSolution(benchmark::State& state, const std::vector<double>& original,
                   const std::vector<double>& x, const double* rhs, int n) {
  const double residual = scaledResidual(original.data(), x.data(), rhs, n);
  state.counters["residual"] = residual;
  if (!(residual < kResidualBound)) {
    state.SkipWithError(("scaled residual " + std::to_string(residual) + " is not below " +
                         std::to_string(kResidualBound))
                            .c_str());
    return false;
  }
  return true;
}
