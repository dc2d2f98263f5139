#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "blocking.hpp"
#include "reference.hpp"
#include "timed_region.hpp"
#include "vector_paths.hpp"

// The block loop's choice of tile kernel by trial on its own sweeps, with an injected clock: fake
// candidates run the real kernel (so every byte is still checked) and advance the clock by a
// cost of their own per tile.

namespace {

constexpr int kCandidates = 2;
long long fakeTime = 0;
long long clockReadings = 0;
long long tilesRun[kCandidates] = {};
// Costs per trial: costsByTrial[t] applies from trial t on (the log's count so far).
std::vector<std::vector<long long>> costsByTrial;
const KernelTrialLog* activeLog = nullptr;

long long fakeClock() {
  ++clockReadings;
  return fakeTime;
}

template <int Candidate>
void fakeKernel(const double* packedLeft, const double* packedRight, int depth,
                const TileTarget& target, int n, const double* nextRead) {
  kernelsOf(widestRunnablePath()).front().run(packedLeft, packedRight, depth, target, n, nextRead);
  const int trial = activeLog == nullptr ? 0 : activeLog->count;
  const auto& costs = costsByTrial[std::min<std::size_t>(trial, costsByTrial.size() - 1)];
  fakeTime += costs[Candidate];
  ++tilesRun[Candidate];
}

const TileKernel kFakes[kCandidates] = {{"first", "the default", &fakeKernel<0>},
                                        {"second", "a rival", &fakeKernel<1>}};

struct TrialRun {
  std::vector<double> a;
  std::vector<int> perm;
  std::vector<double> scratch;
  KernelTrialLog log{};
};

// The widest path's block loop over input with the fake candidates (count of them), the fake
// clock and the given costs per trial.
TrialRun runWithFakes(const std::vector<double>& input, int n, int b, int count,
                      std::vector<std::vector<long long>> costs, int blocksPerSweep = 2) {
  TrialRun run{input, identityPermutation(n),
               std::vector<double>(input.size(), std::numeric_limits<double>::quiet_NaN())};
  costsByTrial = std::move(costs);
  fakeTime = clockReadings = 0;
  tilesRun[0] = tilesRun[1] = 0;
  activeLog = &run.log;
  const KernelPlan plan{kFakes, count, &fakeClock, &run.log};
  countSingularMessages([&] {
    widestRunnablePath().routines.blockedLu(run.a.data(), run.perm.data(), run.scratch.data(), n, b,
                                            plan, nullptr, blocksPerSweep);
  });
  activeLog = nullptr;
  return run;
}

void expectSameAsReference(const TrialRun& got, const std::vector<double>& input, int n, int b) {
  std::vector<double> a = input;
  std::vector<int> perm = identityPermutation(n);
  std::vector<double> s(input.size(), std::numeric_limits<double>::quiet_NaN());
  reference::blockedLu(a.data(), perm.data(), s.data(), n, b);
  EXPECT_TRUE(sameBits(a, got.a));
  EXPECT_EQ(perm, got.perm);
  EXPECT_TRUE(sameBits(s, got.scratch));
}

// Pivots brought up from the bottom rows in the second block, so the look-ahead finishes rows
// before they move while the trial hands rows of tiles to both candidates.
std::vector<double> farPivotMatrix(int n, int b) {
  std::vector<double> m = randomMatrix(n, 51);
  m[static_cast<std::size_t>(n - 1) * n + b] = 1e6;
  m[static_cast<std::size_t>(b) * n + b + 1] = 1e6;
  return m;
}

TEST(KernelTrial, TheFasterCandidateWinsAndEveryByteStaysThePlainOrders) {
  // 807 = 25 rows of whole tiles and 7 rows more: the first sweep (order 743) is tried, then the
  // sweeps of order 495 and below; the rival is faster in the first trial only.
  const int n = 807, b = 32;
  const std::vector<double> input = farPivotMatrix(n, b);
  const TrialRun run = runWithFakes(input, n, b, kCandidates, {{100, 50}, {50, 100}});
  ASSERT_GE(run.log.count, 2);
  EXPECT_EQ(run.log.trials[0].order, n - 2 * b);
  EXPECT_EQ(run.log.trials[0].chosen, 1);
  EXPECT_EQ(run.log.trials[1].chosen, 0);
  // Each row of tiles of the first sweep holds 23 whole tiles and one clipped one.
  EXPECT_EQ(run.log.trials[0].medianNanoseconds[0], 23 * 100);
  EXPECT_EQ(run.log.trials[0].medianNanoseconds[1], 23 * 50);
  // A new trial only once the region has shrunk to two thirds.
  for (int t = 1; t < run.log.count; ++t) {
    EXPECT_LE(3 * run.log.trials[t].order, 2 * run.log.trials[t - 1].order);
  }
  EXPECT_GT(tilesRun[0], 0);
  EXPECT_GT(tilesRun[1], 0);
  expectSameAsReference(run, input, n, b);
}

TEST(KernelTrial, TheRecordSaysHowManyColumnsEachTimedRowHeld) {
  // Groups of four blocks: the sweep's depth of 128 packs 2048 columns of its right panels at
  // once, so each timed row of the first sweep (order 2072) is 64 whole tiles, not the region's
  // width; the rate drawn from the record must use what was timed.
  const int n = 2200, b = 32;
  const TrialRun run = runWithFakes(randomMatrix(n, 55), n, b, kCandidates, {{100, 50}}, 4);
  ASSERT_GE(run.log.count, 1);
  const KernelTrialLog::Trial& first = run.log.trials[0];
  EXPECT_EQ(first.order, n - 4 * b);
  EXPECT_EQ(first.depth, 4 * b);
  EXPECT_EQ(first.columns, 2048);
  EXPECT_EQ(first.medianNanoseconds[0], first.columns / kTileEdge * 100);
}

TEST(KernelTrial, TheDefaultStaysWhenARivalIsFasterByLessThanTheMargin) {
  const int n = 600;
  const TrialRun within = runWithFakes(randomMatrix(n, 52), n, 32, kCandidates, {{100, 99}});
  ASSERT_GE(within.log.count, 1);
  for (int t = 0; t < within.log.count; ++t) EXPECT_EQ(within.log.trials[t].chosen, 0);
  // Past the margin the rival takes over.
  const TrialRun past = runWithFakes(randomMatrix(n, 52), n, 32, kCandidates, {{100, 97}});
  ASSERT_GE(past.log.count, 1);
  EXPECT_EQ(past.log.trials[0].chosen, 1);
}

TEST(KernelTrial, ASingleCandidateOrASmallOrderIsNeverTried) {
  const int n = 600;
  const std::vector<double> input = randomMatrix(n, 53);
  const TrialRun single = runWithFakes(input, n, 32, 1, {{100, 1}});
  EXPECT_EQ(single.log.count, 0);
  EXPECT_EQ(clockReadings, 0);
  EXPECT_EQ(tilesRun[1], 0);
  // Order 300: the first sweep has 7 rows of tiles, fewer than two for each row a trial needs.
  const TrialRun small = runWithFakes(randomMatrix(300, 54), 300, 32, kCandidates, {{100, 1}});
  EXPECT_EQ(small.log.count, 0);
  EXPECT_EQ(tilesRun[1], 0);
  expectSameAsReference(small, randomMatrix(300, 54), 300, 32);
}

TEST(KernelTrial, AForcedKernelIsNeverTriedAndTheAutomaticChoiceIs) {
  const VectorPath& path = widestRunnablePath();
  const int n = 512;
  std::vector<double> a = randomMatrix(n, 55);
  std::vector<double> s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(n);
  const std::vector<double> rhs = rampVector(n);
  TimedRegionOptions forced;
  forced.choice = KernelChoice{&path, &kernelsOf(path).back()};
  const auto run = runTimedRegion(TimedProblem{a.data(), perm.data(), s.data(), rhs.data(), n, 32},
                                  forced, "kernel_trial_test");
  ASSERT_TRUE(run.has_value());
  EXPECT_FALSE(run->kernelTried);
  EXPECT_EQ(run->trials.count, 0);
  EXPECT_EQ(run->ran.kernel, &kernelsOf(path).back());
  if (kernelsOf(path).size() < 2 || fixedKernelName() != nullptr) return;
  a = randomMatrix(n, 55);
  perm = identityPermutation(n);
  const auto automatic =
      runTimedRegion(TimedProblem{a.data(), perm.data(), s.data(), rhs.data(), n, 32},
                     TimedRegionOptions{}, "kernel_trial_test");
  ASSERT_TRUE(automatic.has_value());
  EXPECT_TRUE(automatic->kernelTried);
  EXPECT_GE(automatic->trials.count, 1);
}

}  // namespace
