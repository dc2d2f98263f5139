#include "measurement.hpp"

#include <algorithm>
#include <ctime>

#include "clock.hpp"
#include "matrix_index.hpp"
#include "timed_region.hpp"

double hplFlops(int n) {
  const double order = n;
  return 2.0 / 3.0 * order * order * order + 1.5 * order * order;
}

void copyToColumnMajor(const double* rowMajor, double* columnMajor, int n) {
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) columnMajor[at(c, r, n)] = rowMajor[at(r, c, n)];
  }
}

namespace {

// Seconds taken by work(), never zero; negative when the clock fails.
template <class Work>
double timed(Work work, double& flops) {
  timespec before{};
  timespec after{};
  if (clock_gettime(CLOCK_MONOTONIC, &before) != 0) return -1;
  flops = work();
  if (clock_gettime(CLOCK_MONOTONIC, &after) != 0) return -1;
  return std::max(elapsedNanoseconds(before, after), 1LL) * 1e-9;
}

// The best rate of work(size) in tries of about a tenth of maxSeconds each, stopping before a
// further try could pass it; size starts at size and is scaled to the try length. Adds the tries
// and the time to peak's. Negative when the clock fails.
template <class Work>
double bestRate(Work work, long size, double maxSeconds, PeakMeasurement& peak) {
  const double tryLength = maxSeconds / 10;
  double best = 0;
  double spent = 0;
  for (;;) {
    double flops = 0;
    const double seconds = timed([&] { return work(size); }, flops);
    if (seconds < 0) return -1;
    best = std::max(best, flops / seconds / 1e9);
    ++peak.tries;
    spent += seconds;
    size = std::max(1L, static_cast<long>(static_cast<double>(size) * (tryLength / seconds)));
    // Stop before a further try could pass the time allowed.
    if (spent + 2 * tryLength > maxSeconds) break;
  }
  peak.seconds += spent;
  return best;
}

}  // namespace

PeakMeasurement measurePeak(double maxSeconds, const KernelChoice& choice) {
  const KernelChoice run = resolvedChoiceOrWidest(choice);
  const PathRoutines& path = run.path->routines;
  const TileKernel& kernel = *run.kernel;
  PeakMeasurement peak;
  peak.fusedInstruction = path.fusedMultiplyAddInstruction;
  // The core's rate for separate multiplies and adds, from chains that depend on nothing but
  // the core, then the tile kernel's own rate in cache, each in half the time.
  peak.gflops = bestRate([&](long steps) { return path.multiplyAddChains(steps, false); }, 20000,
                         maxSeconds / 2, peak);
  peak.kernelGflops =
      bestRate([&](long tiles) { return path.tileKernelInCache(static_cast<int>(tiles), kernel); }, 200,
               maxSeconds / 2, peak);
  if (peak.gflops < 0 || peak.kernelGflops < 0) return PeakMeasurement{};
  // The fused rate, for comparison only: three tries of about a millisecond where the target has
  // the instruction (std::fma in software is far slower), the best kept.
  const long fusedSteps = path.fusedMultiplyAddInstruction ? 200000 : 2000;
  for (int fusedTry = 0; fusedTry < 3; ++fusedTry) {
    double flops = 0;
    const double seconds = timed([&] { return path.multiplyAddChains(fusedSteps, true); }, flops);
    if (seconds < 0) return PeakMeasurement{};
    peak.fusedGflops = std::max(peak.fusedGflops, flops / seconds / 1e9);
  }
  return peak;
}
