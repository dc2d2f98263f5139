#include "statistics.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mann_whitney.hpp"

// The statistics of a combination and the significance test, on known cases.

namespace {

TEST(ReportStatistics, MomentsIntervalsAndOutliersOnKnownCases) {
  struct Case {
    std::vector<double> values;
    double mean, stddev;
    bool interval;
    double low, high, confidence;
    std::vector<int> outliers;
  };
  std::vector<double> twenty;
  for (int i = 20; i >= 1; --i) twenty.push_back(i);
  const Case cases[] = {
      {{7}, 7, 0, false, 0, 0, 0, {}},
      {{4, 6}, 5, std::sqrt(2.0), false, 0, 0, 0, {}},
      // Too few runs for the MAD to tell an outlier.
      {{100, 100.5, 110}, 103.5, std::sqrt(31.75), false, 0, 0, 0, {}},
      // Ties: the MAD is 0, the mean absolute deviation stands in; 50 is far out either way.
      {{10, 10, 10, 10, 10, 50}, 100.0 / 6, std::sqrt(800.0 / 3), true, 10, 50, 0.96875, {5}},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 5, std::sqrt(7.5), true, 2, 8, 0.9609375, {}},
      // Order statistics 6 and 15 of 20 cover the median with probability 0.9586.
      {twenty, 10.5, std::sqrt(35.0), true, 6, 15, 0.9586105346679688, {}},
  };
  for (const Case& c : cases) {
    const Distribution d = describe(c.values);
    const std::string name = std::to_string(c.values.size()) + " values";
    EXPECT_DOUBLE_EQ(d.mean, c.mean) << name;
    EXPECT_DOUBLE_EQ(d.stddev, c.stddev) << name;
    ASSERT_EQ(d.medianInterval.has_value(), c.interval) << name;
    if (c.interval) {
      EXPECT_EQ(d.medianInterval->low, c.low) << name;
      EXPECT_EQ(d.medianInterval->high, c.high) << name;
      EXPECT_DOUBLE_EQ(d.medianInterval->confidence, c.confidence) << name;
    }
    EXPECT_EQ(d.outliers, c.outliers) << name;
  }
  EXPECT_DOUBLE_EQ(describe({4, 6}).cv, std::sqrt(2.0) / 5);
  // Thousands of runs, where 2^-n underflows a double: the interval stays about 1.96 sqrt(n) / 2
  // order statistics either side of the median (1000 +- 43.8 for 1..2001), never collapsing.
  std::vector<double> many;
  for (int i = 1; i <= 2001; ++i) many.push_back(i);
  const Distribution large = describe(many);
  ASSERT_TRUE(large.medianInterval.has_value());
  EXPECT_NEAR(large.medianInterval->low, 957, 2);
  EXPECT_NEAR(large.medianInterval->high, 1045, 2);
  EXPECT_GE(large.medianInterval->confidence, 0.95);
  EXPECT_LT(large.medianInterval->confidence, 0.96);
}

TEST(MannWhitney, ExactGivenTheTiesUpToTheLimitApproximateBeyond) {
  // Complete separation of 3 and 3 values: U = 0, P(U <= 0) = 1 / C(6, 3), two-sided 0.1.
  const MannWhitney separated = mannWhitney({1, 2, 3}, {4, 5, 6});
  EXPECT_TRUE(separated.exact);
  EXPECT_EQ(separated.u, 0);
  EXPECT_DOUBLE_EQ(separated.pValue, 0.1);
  EXPECT_DOUBLE_EQ(mannWhitney({4, 5, 6}, {1, 2, 3}).pValue, 0.1);
  // 10 and 10 values fully separated: 2 / C(20, 10).
  std::vector<double> low, high;
  for (int i = 0; i < 10; ++i) {
    low.push_back(i);
    high.push_back(100 + i);
  }
  EXPECT_NEAR(mannWhitney(low, high).pValue, 2.0 / 184756, 1e-15);
  // Interleaved samples: no evidence of a shift.
  EXPECT_GT(mannWhitney({1, 3, 5, 7, 9}, {2, 4, 6, 8, 10}).pValue, 0.5);
  // Ties: the exact distribution given the ties (values checked against a full enumeration of
  // the labellings and SciPy's permutation_test on |U - mn / 2|).
  const MannWhitney tied = mannWhitney({1, 1, 2, 2, 3, 3, 3, 3, 3}, {3, 4, 4, 5, 5, 5, 6, 6, 6});
  EXPECT_TRUE(tied.exact);
  EXPECT_NEAR(tied.pValue, 0.00024681201151789385, 1e-12);
  // One run against six a nanosecond longer: only 1 labelling in 7 is as extreme.
  const MannWhitney one = mannWhitney({25000}, {25001, 25001, 25001, 25001, 25001, 25001});
  EXPECT_TRUE(one.exact);
  EXPECT_NEAR(one.pValue, 1.0 / 7, 1e-12);
  // Three against three can never go below 2 / C(6, 3), ties or none.
  EXPECT_NEAR(mannWhitney({25000, 25000, 25000}, {25001, 25001, 25001}).pValue, 0.1, 1e-12);
  EXPECT_NEAR(mannWhitney({1, 1, 2}, {2, 3, 3}).pValue, 0.2, 1e-12);
  EXPECT_NEAR(mannWhitney({10, 10, 10, 11}, {11, 11, 12, 12, 12}).pValue, 1.0 / 21, 1e-12);
  EXPECT_NEAR(mannWhitney({5, 5, 7, 9}, {5, 8, 8, 9, 9, 9}).pValue, 0.28095238095238095, 1e-12);
  // Either sample may be the larger: one run against 2500 is as quick as 2500 against one.
  std::vector<double> lots(2500, 2.0);
  EXPECT_NEAR(mannWhitney({1}, lots).pValue, 1.0 / 2501, 1e-12);
  EXPECT_NEAR(mannWhitney(lots, {1}).pValue, 1.0 / 2501, 1e-12);
  EXPECT_NEAR(mannWhitney({25001, 25001, 25001, 25001, 25001, 25001}, {25000}).pValue, 1.0 / 7,
              1e-12);
  // Past kExactPairs, the normal approximation.
  std::vector<double> many(60, 1.0), more(50, 2.0);
  const MannWhitney large = mannWhitney(many, more);
  EXPECT_FALSE(large.exact);
  EXPECT_LT(large.pValue, 1e-6);
  EXPECT_EQ(mannWhitney({5, 5, 5}, {5, 5}).pValue, 1.0);
  EXPECT_EQ(mannWhitney({}, {1}).pValue, 1.0);
}

}  // namespace
