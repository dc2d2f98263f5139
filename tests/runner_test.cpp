#include "runner.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "timed_region.hpp"
#include "clock.hpp"
#include "progress.hpp"
#include "reference.hpp"
#include "verification.hpp"
#include "workspace.hpp"

// The runner on small orders: its runs match the scalar rendering, and the progress line stays
// out of the timed regions.

namespace {

TEST(ReportRunner, RunsMatchTheScalarRenderingAndProgressStaysOutOfTimedRegions) {
  RunOptions options;
  options.n = 97;
  options.block = 7;
  options.seed = 5;
  options.repeat = 3;
  options.warmUp = true;
  options.checkReference = true;
  std::vector<bool> calls;
  std::vector<long long> callTimes;
  CombinationHooks hooks;
  hooks.runFinished = [&](bool timed) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    calls.push_back(timed);
    callTimes.push_back(elapsedNanoseconds(timespec{}, now));
  };
  const std::optional<CombinationRecord> record = runCombination(options, hooks);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(calls, (std::vector<bool>{false, true, true, true}));
  ASSERT_EQ(record->runs.size(), 3u);
  EXPECT_EQ(record->reference, ReferenceCheck::kIdentical);
  std::vector<double> a = randomMatrix(options.n, options.seed), s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(options.n);
  reference::blockedLu(a.data(), perm.data(), s.data(), options.n, options.block);
  for (const RunRecord& run : record->runs) {
    EXPECT_EQ(run.fingerprint, fingerprint(a.data(), perm.data(), options.n));
    long long steps = run.solveNanoseconds;
    for (long long step : run.stepNanoseconds) steps += step;
    EXPECT_LE(steps, run.timedNanoseconds);
    // Whoever is told of the runs' progress is told between timed regions, never inside one.
    for (long long t : callTimes) {
      EXPECT_FALSE(t >= run.startNanoseconds && t <= run.startNanoseconds + run.timedNanoseconds);
    }
  }
}

}  // namespace
