// lubench's timed region (the block loop and both solves) against its plain scalar rendering
// and, when the build finds LAPACKE, LAPACK's dgetrf + dgetrs; with and without the look-ahead
// and with each step timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "blocking.hpp"
#include "clock.hpp"
#include "lapack_peer.hpp"
#include "linalg.hpp"
#include "matrix_index.hpp"
#include "measurement.hpp"
#include "scalar_reference.hpp"
#include "test_data.hpp"
#include "timed_region.hpp"
#include "vector_paths.hpp"
#include "verification.hpp"

namespace {

// The timed region, as lubench runs it, with options; the iteration's time from its own readings
// (0 after marking the benchmark failed when the clock cannot be read).
double timedRegionSeconds(benchmark::State& state, LuProblem& problem, int n,
                          const TimedRegionOptions& options, TimedRegionResult* result = nullptr) {
  const std::optional<TimedRegionResult> run = runTimedRegion(
      TimedProblem{problem.a(), problem.perm(), problem.s(), problem.rhs(), n, kBlock}, options,
      "lubench_bench");
  if (!run) {
    state.SkipWithError("the timed region could not run");
    return 0;
  }
  if (result != nullptr) *result = *run;
  return 1e-9 * static_cast<double>(elapsedNanoseconds(run->start, run->end));
}

// The benchmark's timed region: the block loop and both solves.
void BM_BlockedLuAndSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  double timed = 0;
  for (auto _ : state) {
    problem.reset();
    const double seconds = timedRegionSeconds(state, problem, n, TimedRegionOptions{});
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, hplFlops(n), timed);

  std::vector<double> x(n);
  luSolve(problem.perm(), problem.a(), problem.rhs(), n, x.data());
  if (!checkSolution(state, problem.original(), x, problem.rhs(), n)) return;
  // Byte comparison with the scalar rendering where that takes seconds, not minutes.
  if (n <= 1024) {
    std::vector<double> a = problem.original();
    std::vector<double> s(a.size(), 0.0);
    std::vector<int> perm(n);
    randMatrixGenpvt(perm.data(), n);
    reference::blockedLu(a.data(), perm.data(), s.data(), n, kBlock);
    if (std::memcmp(a.data(), problem.a(), a.size() * sizeof(double)) != 0 ||
        std::memcmp(perm.data(), problem.perm(), perm.size() * sizeof(int)) != 0) {
      state.SkipWithError("the factorisation differs from the scalar rendering");
    }
  }
}

// The same timed region with each step timed, as lubench-report runs it: the cost of the step
// clock readings shows as the difference from BM_BlockedLuAndSolve.
void BM_BlockedLuAndSolveWithStepTimes(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  long long stepTotal = 0;
  // Timed by hand: the step clock starts from the iteration's own first reading.
  double timed = 0;
  TimedRegionOptions options;
  options.timeSteps = true;
  for (auto _ : state) {
    problem.reset();
    TimedRegionResult result;
    const double seconds = timedRegionSeconds(state, problem, n, options, &result);
    state.SetIterationTime(seconds);
    timed += seconds;
    for (long long step : result.stepNanoseconds) stepTotal += step;
  }
  reportRate(state, hplFlops(n), timed);
  // The steps cover the block loop, which is nearly all of the timed region.
  state.counters["steps/timed"] = static_cast<double>(stepTotal) / (timed * 1e9);
  std::vector<double> x(n);
  luSolve(problem.perm(), problem.a(), problem.rhs(), n, x.data());
  checkSolution(state, problem.original(), x, problem.rhs(), n);
}

// The timed region with sweeps of Arg 1 blocks each (1: a trailing pass per block, as without
// look-ahead; 2 to 4: the look-ahead's groups) on the vector path of index Arg 2 in
// vectorPaths(), so that what each depth gains is measured on the same data in the same run, in
// the sweeps themselves ("sweep_ms") and in the steps outside them ("outside_ms", the block loop's
// other steps), each a mean per run. The factors of each must agree byte for byte.
void BM_LookAheadDepth(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int blocksPerSweep = static_cast<int>(state.range(1));
  const VectorPath& path = vectorPaths()[static_cast<std::size_t>(state.range(2))];
  LuProblem problem(n, kSeed);
  TimedRegionOptions options;
  options.blocksPerSweep = blocksPerSweep;
  options.choice.path = &path;
  options.timeSteps = true;
  double timed = 0;
  long long sweep = 0;
  long long outside = 0;
  for (auto _ : state) {
    problem.reset();
    TimedRegionResult result;
    const double seconds = timedRegionSeconds(state, problem, n, options, &result);
    state.SetIterationTime(seconds);
    timed += seconds;
    for (int step = 0; step < kLuStepCount; ++step) {
      const long long spent = result.stepNanoseconds[static_cast<std::size_t>(step)];
      (static_cast<LuStep>(step) == LuStep::kTrailingSweep ? sweep : outside) += spent;
    }
  }
  reportRate(state, hplFlops(n), timed);
  const double runs = static_cast<double>(state.iterations());
  state.counters["sweep_ms"] = 1e-6 * static_cast<double>(sweep) / runs;
  state.counters["outside_ms"] = 1e-6 * static_cast<double>(outside) / runs;
  state.SetLabel(path.name);

  std::vector<double> a = problem.original();
  std::vector<double> s(a.size(), 0.0);
  std::vector<int> perm(n);
  randMatrixGenpvt(perm.data(), n);
  blockedLu(a.data(), perm.data(), s.data(), n, kBlock);
  if (std::memcmp(a.data(), problem.a(), a.size() * sizeof(double)) != 0 ||
      std::memcmp(perm.data(), problem.perm(), perm.size() * sizeof(int)) != 0) {
    state.SkipWithError("the factors differ from the look-ahead block loop's");
  }
}

// Every depth on the widest path at two orders, and at the benchmark's order on each other path
// this CPU runs with vectors of four doubles or more.
void lookAheadDepthArguments(benchmark::internal::Benchmark* benchmark) {
  const std::span<const VectorPath> paths = vectorPaths();
  for (std::size_t p = 0; p < paths.size(); ++p) {
    const bool widest = &paths[p] == &widestRunnablePath();
    if (!paths[p].cpuRuns() || (!widest && paths[p].routines.lanes < 4)) continue;
    for (int blocks = 1; blocks <= kMaxBlocksPerSweep; ++blocks) {
      if (widest) benchmark->Args({1024, blocks, static_cast<long long>(p)});
      benchmark->Args({kBenchmarkOrder, blocks, static_cast<long long>(p)});
    }
  }
}

// The same work in the plain scalar order, written with no attention to speed.
void BM_ScalarRendering(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  std::vector<double> x(n);
  const double timed = timeEachIteration(
      state, [&] { problem.reset(); },
      [&] {
        reference::blockedLu(problem.a(), problem.perm(), problem.s(), n, kBlock);
        reference::solve(problem.perm(), problem.a(), problem.rhs(), n, x.data());
      });
  reportRate(state, hplFlops(n), timed);
  checkSolution(state, problem.original(), x, problem.rhs(), n);
}

#if defined(LUBENCH_HAVE_LAPACKE)
// LAPACK's LU with partial pivoting (dgetrf) and the two solves (dgetrs) on the same matrix,
// stored column-major as LAPACK works natively.
void BM_LapackGetrfGetrs(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  const std::vector<double>& original = problem.original();
  std::vector<double> columnMajor(original.size());
  copyToColumnMajor(original.data(), columnMajor.data(), n);
  std::vector<double> a(columnMajor.size());
  std::vector<double> x(n);
  std::vector<int> pivots(n);
  int info = 0;
  const double timed = timeEachIteration(
      state,
      [&] {
        a = columnMajor;
        x.assign(problem.rhs(), problem.rhs() + n);
      },
      [&] { info = lapackFactoriseAndSolve(a.data(), pivots.data(), x.data(), n); });
  reportRate(state, hplFlops(n), timed);
  state.SetLabel(lapackDescription());
  if (info != 0) {
    state.SkipWithError(("LAPACK returned info = " + std::to_string(info)).c_str());
    return;
  }
  checkSolution(state, original, x, problem.rhs(), n);
}

BENCHMARK(BM_BlockedLuAndSolve)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockedLuAndSolveWithStepTimes)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookAheadDepth)
    ->Apply(lookAheadDepthArguments)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScalarRendering)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LapackGetrfGetrs)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
