// Speed of lubench's timed work against its plain scalar rendering and, when the build finds
// LAPACKE, LAPACK's dgetrf + dgetrs. Every benchmark times its work with the monotonic clock
// around exactly the measured calls (set-up and checks are outside) and reports GFLOP/s; results
// are checked after the timing loop, and a wrong result turns the benchmark into an error.
//
//   ./build/release/bench/lubench_bench --benchmark_repetitions=3
//       --benchmark_enable_random_interleaving=true --benchmark_out=bench.json

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "block_loop.hpp"
#include "kernel_rate.hpp"
#include "lapack_peer.hpp"
#include "linalg.hpp"
#include "look_ahead.hpp"
#include "lu_steps.hpp"
#include "matrix_index.hpp"
#include "measurement.hpp"
#include "scalar_reference.hpp"
#include "simd.hpp"
#include "step_timer.hpp"
#include "test_data.hpp"
#include "verification.hpp"

namespace {

constexpr unsigned kSeed = 1;
constexpr int kBlock = kBenchmarkBlock;

void reportRate(benchmark::State& state, double flopsPerIteration, double timedSeconds) {
  state.counters["GFLOP/s"] =
      flopsPerIteration * static_cast<double>(state.iterations()) / timedSeconds / 1e9;
}

// Solves with the factors left in problem and checks HPL's scaled residual against the
// original matrix. Returns false (after marking the benchmark as failed) when it is too large.
bool checkSolution(benchmark::State& state, const std::vector<double>& original,
                   const std::vector<double>& x, const double* rhs, int n) {
  const double residual = scaledResidual(original.data(), x.data(), rhs, n);
  state.counters["residual"] = residual;
  if (!(residual < kResidualBound)) {
    state.SkipWithError(
        ("scaled residual " + std::to_string(residual) + " is not below " + std::to_string(kResidualBound)).c_str());
    return false;
  }
  return true;
}

// cache1 alone, on the largest trailing product of a run: the first block's, start = b.
void BM_Cache1(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  double timed = 0;
  const std::size_t entries = static_cast<std::size_t>(n) * n;
  for (auto _ : state) {
    std::fill(problem.s(), problem.s() + entries, 0.0);
    const timespec start = monotonicNow();
    cache1(problem.a(), problem.a(), problem.s(), n, kBlock, kBlock, 0);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, productFlops(n, kBlock, 0), timed);

  std::vector<double> expected(entries, 0.0);
  reference::cache1(problem.a(), problem.a(), expected.data(), n, kBlock, 0);
  if (std::memcmp(expected.data(), problem.s(), expected.size() * sizeof(double)) != 0) {
    state.SkipWithError("cache1 differs from the scalar rendering");
  }
}

// The block loop's fused trailing pass alone on the largest trailing region of a run, the first
// block's: the scratch region zeroed, the product, and the matrix minus the product, tile by
// tile. The matrix is restored outside the timing.
void BM_TrailingPass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  const std::size_t entries = static_cast<std::size_t>(n) * n;
  double timed = 0;
  for (auto _ : state) {
    std::copy(problem.original().begin(), problem.original().end(), problem.a());
    const timespec start = monotonicNow();
    updateTrailingSubmatrix(problem.a(), problem.s(), n, 0, kBlock);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, productFlops(n, kBlock, 0), timed);

  // The separate steps in the plain order: zero, cache1, subtract.
  std::vector<double> a = problem.original();
  std::vector<double> s(entries, 0.0);
  reference::cache1(a.data(), a.data(), s.data(), n, kBlock, 0);
  for (int r = kBlock; r < n; ++r) {
    for (int c = kBlock; c < n; ++c) a[at(r, c, n)] = a[at(r, c, n)] - s[at(r, c, n)];
  }
  if (std::memcmp(a.data(), problem.a(), entries * sizeof(double)) != 0 ||
      std::memcmp(s.data(), problem.s(), entries * sizeof(double)) != 0) {
    state.SkipWithError("the trailing pass differs from the scalar rendering");
  }
}

// The look-ahead sweep alone on the largest region a run gives it, the first pair of blocks':
// for every entry of [2b, n)^2, the first block's products stored to the scratch matrix and
// subtracted, then the second block's. The matrix is restored outside the timing.
void BM_TrailingSweep(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int next = 2 * kBlock;
  LuProblem problem(n, kSeed);
  double timed = 0;
  for (auto _ : state) {
    std::copy(problem.original().begin(), problem.original().end(), problem.a());
    const timespec start = monotonicNow();
    sweepTrailingSubmatrix<kDoubleLanes>(problem.a(), problem.s(), n, 0, next, FinishedRows{});
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, 2.0 * productFlops(n, next, kBlock), timed);

  // The two blocks' updates of the region one after the other, in plain scalar order.
  std::vector<double> a = problem.original();
  std::vector<double> s(a.size(), std::numeric_limits<double>::quiet_NaN());
  for (int first = 0; first < next; first += kBlock) {
    for (int r = next; r < n; ++r) {
      for (int c = next; c < n; ++c) {
        double sum = 0.0;
        for (int l = first; l < first + kBlock; ++l) sum = sum + a[at(r, l, n)] * a[at(l, c, n)];
        s[at(r, c, n)] = sum;
        a[at(r, c, n)] = a[at(r, c, n)] - sum;
      }
    }
  }
  bool same = std::memcmp(a.data(), problem.a(), a.size() * sizeof(double)) == 0;
  for (int r = next; r < n && same; ++r) {
    same = std::memcmp(&s[at(r, next, n)], problem.s() + at(r, next, n),
                       (n - next) * sizeof(double)) == 0;
  }
  if (!same) state.SkipWithError("the sweep differs from the scalar rendering");
}

// The register-blocked tile kernel on operands that stay in the first-level cache: the rate
// at which this machine carries out the product's separate multiplies and adds, the bound on
// cache1's speed once memory is out of the way. lubench-report measures its peak the same way.
void BM_TileKernelInCache(benchmark::State& state) {
  constexpr int kTilesPerTiming = 1000;
  double timed = 0;
  double flops = 0;
  for (auto _ : state) {
    const timespec start = monotonicNow();
    flops += runTileKernelInCache(kTilesPerTiming);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  state.counters["GFLOP/s"] = flops / timed / 1e9;
}

// This core's peak rate for separate multiplies and adds (Arg 0), as the product does them, and
// for fused multiply-adds (Arg 1), which LAPACK libraries use and this project must not: where
// the fused rate is higher, a library can finish before the plain scalar order's arithmetic could.
void BM_CorePeak(benchmark::State& state) {
  const bool fused = state.range(0) != 0;
  constexpr long kStepsPerTiming = 100000;
  double timed = 0;
  double flops = 0;
  for (auto _ : state) {
    const timespec start = monotonicNow();
    flops += runMultiplyAddChains(kStepsPerTiming, fused);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  state.counters["GFLOP/s"] = flops / timed / 1e9;
  state.SetLabel(!fused                         ? "separate multiply and add"
                 : kFusedMultiplyAddInstruction ? "fused multiply-add"
                                                : "fused multiply-add (no instruction: std::fma)");
}

// The memory traffic the trailing updates cannot avoid, without their arithmetic, for sweeps of
// Arg 1 blocks each (1: a pass per block; 2: the look-ahead's pairs): for every sweep, each
// block's scratch region written (streaming stores, as the sweep writes them; a pair writes the
// same addresses twice) and the trailing submatrix read and written once. Set beside
// BM_TileKernelInCache, this bounds how fast the trailing updates can be on this machine.
void BM_PlainOrderMemoryPasses(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int blocksPerSweep = static_cast<int>(state.range(1));
  LuProblem problem(n, kSeed);
  double* a = problem.a();
  double* s = problem.s();
  double timed = 0;
  for (auto _ : state) {
    problem.reset();
    const timespec start = monotonicNow();
    for (int end = kBlock * blocksPerSweep; end < n; end += kBlock * blocksPerSweep) {
      const std::size_t width = static_cast<std::size_t>(n - end);
      for (int r = end; r < n; ++r) {
        for (int block = 0; block < blocksPerSweep; ++block) zeroStreaming(s + at(r, end, n), width);
        // One read and one write of every entry; adding +0.0 cannot be optimised away (it
        // turns -0.0 into +0.0).
        double* row = a + at(r, 0, n);
        for (int c = end; c < n; ++c) row[c] = row[c] + 0.0;
      }
      finishStreamingStores();
      benchmark::ClobberMemory();
    }
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  // Bytes moved per entry and sweep: 8 written to the scratch matrix per block, 16 read and
  // written in the matrix.
  double entries = 0;
  for (int end = kBlock * blocksPerSweep; end < n; end += kBlock * blocksPerSweep)
    entries += static_cast<double>(n - end) * (n - end);
  state.counters["GB/s"] = (8.0 * blocksPerSweep + 16.0) * entries *
                           static_cast<double>(state.iterations()) / timed / 1e9;
}

// The timed region with sweeps of Arg 1 blocks each (1: a trailing pass per block, as without
// look-ahead; 2: the look-ahead's pairs), so that what the look-ahead gains is measured on the
// same data in the same run. The factors of both must agree byte for byte.
void BM_LookAheadDepth(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int blocksPerSweep = static_cast<int>(state.range(1));
  LuProblem problem(n, kSeed);
  NoStepObserver noObserver;
  double timed = 0;
  for (auto _ : state) {
    problem.reset();
    const timespec start = monotonicNow();
    runBlockedLu<kDoubleLanes>(problem.a(), problem.perm(), problem.s(), n, kBlock, noObserver,
                               blocksPerSweep);
    mydtsrsm(problem.perm(), problem.a(), problem.rhs(), n);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, hplFlops(n), timed);

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

// The benchmark's timed region: the block loop and both solves.
void BM_BlockedLuAndSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  double timed = 0;
  for (auto _ : state) {
    problem.reset();
    const timespec start = monotonicNow();
    blockedLu(problem.a(), problem.perm(), problem.s(), n, kBlock);
    mydtsrsm(problem.perm(), problem.a(), problem.rhs(), n);
    const double seconds = secondsSince(start);
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
  double timed = 0;
  long long stepTotal = 0;
  for (auto _ : state) {
    problem.reset();
    const timespec start = monotonicNow();
    StepTimer timer(start);
    runBlockedLu(problem.a(), problem.perm(), problem.s(), n, kBlock, timer);
    mydtsrsm(problem.perm(), problem.a(), problem.rhs(), n);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
    for (long long step : timer.nanoseconds()) stepTotal += step;
  }
  reportRate(state, hplFlops(n), timed);
  // The steps cover the block loop, which is nearly all of the timed region.
  state.counters["steps/timed"] = static_cast<double>(stepTotal) / (timed * 1e9);
  std::vector<double> x(n);
  luSolve(problem.perm(), problem.a(), problem.rhs(), n, x.data());
  checkSolution(state, problem.original(), x, problem.rhs(), n);
}

// The same work in the plain scalar order, written with no attention to speed.
void BM_ScalarRendering(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  std::vector<double> x(n);
  double timed = 0;
  for (auto _ : state) {
    problem.reset();
    const timespec start = monotonicNow();
    reference::blockedLu(problem.a(), problem.perm(), problem.s(), n, kBlock);
    reference::solve(problem.perm(), problem.a(), problem.rhs(), n, x.data());
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
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
  double timed = 0;
  int info = 0;
  for (auto _ : state) {
    a = columnMajor;
    x.assign(problem.rhs(), problem.rhs() + n);
    const timespec start = monotonicNow();
    info = lapackFactoriseAndSolve(a.data(), pivots.data(), x.data(), n);
    const double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    timed += seconds;
  }
  reportRate(state, hplFlops(n), timed);
  state.SetLabel(lapackDescription());
  if (info != 0) {
    state.SkipWithError(("LAPACK returned info = " + std::to_string(info)).c_str());
    return;
  }
  checkSolution(state, original, x, problem.rhs(), n);
}
BENCHMARK(BM_LapackGetrfGetrs)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Cache1)->Arg(1024)->Arg(2048)->Arg(kBenchmarkOrder)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_TrailingPass)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TileKernelInCache)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CorePeak)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrailingSweep)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainOrderMemoryPasses)
    ->ArgsProduct({{1024, 2048, kBenchmarkOrder}, {1, 2}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockedLuAndSolve)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookAheadDepth)
    ->ArgsProduct({{1024, kBenchmarkOrder}, {1, 2}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockedLuAndSolveWithStepTimes)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScalarRendering)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
