#include "measurement.hpp"

#include <algorithm>
#include <ctime>

#include "clock.hpp"
#include "kernel_rate.hpp"
#include "matrix_index.hpp"
#include "simd.hpp"

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

}  // namespace

PeakMeasurement measurePeak(double maxSeconds) {
  PeakMeasurement peak;
  // A first short try sizes the others to about a tenth of the time allowed each.
  const double tryLength = maxSeconds / 10;
  int tiles = 200;
  for (;;) {
    double flops = 0;
    const double seconds = timed([&] { return runTileKernelInCache(tiles); }, flops);
    if (seconds < 0) return PeakMeasurement{};
    peak.gflops = std::max(peak.gflops, flops / seconds / 1e9);
    ++peak.tries;
    peak.seconds += seconds;
    tiles = std::max(1, static_cast<int>(tiles * (tryLength / seconds)));
    // Stop before a further try could pass the time allowed.
    if (peak.seconds + 2 * tryLength > maxSeconds) break;
  }
  // The fused rate, for comparison only: three tries of about a millisecond where the target has
  // the instruction (std::fma in software is far slower), the best kept.
  const long fusedSteps = kFusedMultiplyAddInstruction ? 200000 : 2000;
  for (int fusedTry = 0; fusedTry < 3; ++fusedTry) {
    double flops = 0;
    const double seconds = timed([&] { return runMultiplyAddChains(fusedSteps, true); }, flops);
    if (seconds < 0) return PeakMeasurement{};
    peak.fusedGflops = std::max(peak.fusedGflops, flops / seconds / 1e9);
  }
  return peak;
}
