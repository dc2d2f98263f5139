// The pieces of lubench's timed work alone, each on the largest region a run gives it, and the
// rates that bound them on this machine: the tile kernel in cache, the core's peak for separate
// and for fused multiply-adds, the memory traffic the trailing updates cannot avoid.
#include <benchmark/benchmark.h>
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "lapack_peer.hpp"
#include "linalg.hpp"
#include "matrix_index.hpp"
#include "measurement.hpp"
#include "scalar_reference.hpp"
#include "test_data.hpp"
#include "vector_paths.hpp"
#include "verification.hpp"

namespace {

// The automatic path's kernel number Arg index, or null after marking the benchmark skipped
// (the path has fewer kernels); the kernel's name becomes the label.
const TileKernel* kernelOfArg(benchmark::State& state, int index) {
  const KernelChoice automatic = resolveChoice(KernelChoice{});
  const auto kernels = kernelsOf(*automatic.path);
  if (index >= static_cast<int>(kernels.size())) {
    state.SkipWithError("this CPU's vector path has fewer tile kernels");
    return nullptr;
  }
  state.SetLabel(std::string(automatic.path->name) + " " + kernels[index].name);
  return &kernels[index];
}

// Writes +0.0 to p[0 .. count) around the cache, 16 bytes at a time where p is aligned to them.
void zeroAroundTheCache(double* p, std::size_t count) {
  std::size_t i = 0;
  if (reinterpret_cast<std::uintptr_t>(p) % 16 != 0 && count > 0) p[i++] = 0.0;
  for (; i + 2 <= count; i += 2) _mm_stream_pd(p + i, _mm_setzero_pd());
  for (; i < count; ++i) p[i] = 0.0;
}

// cache1 alone, on the largest trailing product of a run: the first block's, start = b.
void BM_Cache1(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LuProblem problem(n, kSeed);
  const std::size_t entries = static_cast<std::size_t>(n) * n;
  const double timed = timeEachIteration(
      state, [&] { std::fill(problem.s(), problem.s() + entries, 0.0); },
      [&] { cache1(problem.a(), problem.a(), problem.s(), n, kBlock, kBlock, 0); });
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
  const double timed = timeEachIteration(
      state, [&] { std::copy(problem.original().begin(), problem.original().end(), problem.a()); },
      [&] {
        const KernelChoice run = resolveChoice(KernelChoice{});
        run.path->routines.trailingPass(problem.a(), problem.a(), problem.s(), problem.a(), n,
                                        TrailingRegion{kBlock, n, kBlock, n, 0, kBlock, 1, {}},
                                        *run.kernel);
      });
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
// subtracted, then the second block's, with the automatic path's kernel number Arg 1. The matrix
// is restored outside the timing.
void BM_TrailingSweep(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int next = 2 * kBlock;
  const TileKernel* kernel = kernelOfArg(state, static_cast<int>(state.range(1)));
  if (kernel == nullptr) return;
  const PathRoutines& path = resolveChoice(KernelChoice{}).path->routines;
  LuProblem problem(n, kSeed);
  const double timed = timeEachIteration(
      state, [&] { std::copy(problem.original().begin(), problem.original().end(), problem.a()); },
      [&] {
        path.trailingPass(problem.a(), problem.a(), problem.s(), problem.a(), n,
                          TrailingRegion{next, n, next, n, 0, next, 2, {}}, *kernel);
      });
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

// The automatic path's tile kernel number Arg on operands that stay in the first-level cache: the
// rate at which this machine carries out the product's separate multiplies and adds with it, the
// bound on cache1's speed once memory is out of the way. lubench-report measures it the same way.
void BM_TileKernelInCache(benchmark::State& state) {
  constexpr int kTilesPerTiming = 1000;
  const TileKernel* kernel = kernelOfArg(state, static_cast<int>(state.range(0)));
  if (kernel == nullptr) return;
  const PathRoutines& path = resolveChoice(KernelChoice{}).path->routines;
  double flops = 0;
  const double timed = timeEachIteration(
      state, [] {}, [&] { flops += path.tileKernelInCache(kTilesPerTiming, *kernel); });
  state.counters["GFLOP/s"] = flops / timed / 1e9;
}

// This core's peak rate for separate multiplies and adds (Arg 0), as the product does them, and
// for fused multiply-adds (Arg 1), which LAPACK libraries use and this project must not: where
// the fused rate is higher, a library can finish before the plain scalar order's arithmetic could.
void BM_CorePeak(benchmark::State& state) {
  const bool fused = state.range(0) != 0;
  constexpr long kStepsPerTiming = 100000;
  const PathRoutines& path = resolveChoice(KernelChoice{}).path->routines;
  double flops = 0;
  const double timed = timeEachIteration(
      state, [] {}, [&] { flops += path.multiplyAddChains(kStepsPerTiming, fused); });
  state.counters["GFLOP/s"] = flops / timed / 1e9;
  state.SetLabel(!fused                              ? "separate multiply and add"
                 : path.fusedMultiplyAddInstruction ? "fused multiply-add"
                                                    : "fused multiply-add (no instruction: std::fma)");
}

// The memory traffic the trailing updates cannot avoid, without their arithmetic, for sweeps of
// Arg 1 blocks each (1: a pass per block; 2 to 4: the look-ahead's groups): for every sweep, each
// block's scratch region written (streaming stores, as the sweep writes them; a group writes the
// same addresses once per block) and the trailing submatrix read and written once. Set beside
// BM_TileKernelInCache, this bounds how fast the trailing updates can be on this machine.
void BM_PlainOrderMemoryPasses(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int blocksPerSweep = static_cast<int>(state.range(1));
  LuProblem problem(n, kSeed);
  double* a = problem.a();
  double* s = problem.s();
  const double timed = timeEachIteration(
      state, [&] { problem.reset(); },
      [&] {
        for (int end = kBlock * blocksPerSweep; end < n; end += kBlock * blocksPerSweep) {
          const std::size_t width = static_cast<std::size_t>(n - end);
          for (int r = end; r < n; ++r) {
            for (int block = 0; block < blocksPerSweep; ++block)
              zeroAroundTheCache(s + at(r, end, n), width);
            // One read and one write of every entry; adding +0.0 cannot be optimised away (it
            // turns -0.0 into +0.0).
            double* row = a + at(r, 0, n);
            for (int c = end; c < n; ++c) row[c] = row[c] + 0.0;
          }
          _mm_sfence();
          benchmark::ClobberMemory();
        }
      });
  // Bytes moved per entry and sweep: 8 written to the scratch matrix per block, 16 read and
  // written in the matrix.
  double entries = 0;
  for (int end = kBlock * blocksPerSweep; end < n; end += kBlock * blocksPerSweep)
    entries += static_cast<double>(n - end) * (n - end);
  state.counters["GB/s"] = (8.0 * blocksPerSweep + 16.0) * entries *
                           static_cast<double>(state.iterations()) / timed / 1e9;
}

BENCHMARK(BM_Cache1)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrailingPass)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(kBenchmarkOrder)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrailingSweep)
    ->ArgsProduct({{1024, 2048, kBenchmarkOrder}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TileKernelInCache)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CorePeak)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainOrderMemoryPasses)
    ->ArgsProduct({{1024, 2048, kBenchmarkOrder}, {1, 2, 3, 4}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
