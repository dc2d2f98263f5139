#include "quietness.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// The warnings that say a machine was not quiet during the runs.

namespace {

TEST(Quietness, WarningsAfterTheRuns) {
  auto recordOf = [](std::vector<double> times, long switches, std::optional<double> steal) {
    CombinationRecord record;
    for (double t : times) {
      RunRecord run;
      run.timedNanoseconds = static_cast<long long>(t);
      record.runs.push_back(run);
    }
    record.quietness = QuietnessRecord{switches, steal};
    return record;
  };
  auto warnings = [](const CombinationRecord& r) {
    std::vector<double> times;
    for (const RunRecord& run : r.runs) times.push_back(static_cast<double>(run.timedNanoseconds));
    return warningsAfterRuns(r, describe(times));
  };
  EXPECT_TRUE(warnings(recordOf({100, 101, 100, 102, 101}, 0, 0.0)).empty());
  // Fewer than 5 runs: no estimate of the variability, and nothing claimed from one.
  EXPECT_EQ(warnings(recordOf({100, 150}, 0, std::nullopt)).size(), 1u);
  // Switches and steal during the runs; a switch now and then in long runs is the kernel's own.
  EXPECT_EQ(warnings(recordOf({100, 101, 100, 102, 101}, 3, 0.25)).size(), 2u);
  EXPECT_TRUE(warnings(recordOf({1e8, 1e8, 1e8, 1e8, 1e8}, 4, 0.0)).empty());
  // One slow run: the spread, the maximum and the outlier each say so.
  EXPECT_EQ(warnings(recordOf({100, 101, 100, 102, 101, 100, 180}, 0, 0.0)).size(), 3u);
}

}  // namespace
