#include "paired.hpp"

#include <nlohmann/json.hpp>

#include "ab.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

// The paired statistics of lubench-report ab on cases whose answers are known by hand.

namespace {

using json = nlohmann::json;

TEST(PairedStatistics, SignedRankTestExactAndApproximate) {
  // Six positive differences: W+ = 21 is the largest of 2^6 equally likely sums.
  EXPECT_DOUBLE_EQ(wilcoxonSignedRank({1, 2, 3, 4, 5, 6}).pValue, 2.0 / 64);
  EXPECT_TRUE(wilcoxonSignedRank({1, 2, 3, 4, 5, 6}).exact);
  // W+ = 19: P(W+ >= 19) = P(W+ <= 2) = 3 / 64 (the empty set, {1} and {2}).
  EXPECT_DOUBLE_EQ(wilcoxonSignedRank({1, -2, 3, 4, 5, 6}).pValue, 6.0 / 64);
  // The sign does not matter, and zeros are dropped.
  EXPECT_DOUBLE_EQ(wilcoxonSignedRank({0, -1, -2, -3, -4, -5, -6, 0}).pValue, 2.0 / 64);
  EXPECT_DOUBLE_EQ(wilcoxonSignedRank({0, 0}).pValue, 1);
  // Tied magnitudes: the normal approximation, which on a balanced sample says nothing.
  const SignedRank tied = wilcoxonSignedRank({1, -1, 2, -2, 3, -3});
  EXPECT_FALSE(tied.exact);
  EXPECT_DOUBLE_EQ(tied.pValue, 1);
  // Beyond the exact range, the normal approximation: W+ = 2400 of 3240, mean 1620, variance
  // 80 * 81 * 161 / 24, continuity-corrected z = 3.7388.
  std::vector<double> many;
  for (int i = 1; i <= 80; ++i) many.push_back(i % 4 == 0 ? -i : i);
  const SignedRank approximate = wilcoxonSignedRank(many);
  EXPECT_FALSE(approximate.exact);
  EXPECT_NEAR(approximate.pValue, 1.8497e-4, 1e-8);
}

TEST(PairedStatistics, RatioIntervalVerdictDriftAndTheIndependentInterval) {
  const std::vector<double> before{100, 200, 120, 300, 110, 250, 105, 180};
  std::vector<double> slower, same;
  for (std::size_t i = 0; i < before.size(); ++i) {
    slower.push_back(before[i] * (1.05 + 0.001 * static_cast<double>(i)));
    same.push_back(before[i] * (i % 2 == 0 ? 1.01 : 0.99));
  }
  const PairedRatio up = pairedRatio(before, slower);
  EXPECT_NEAR(up.median, 1.0535, 1e-12);
  ASSERT_TRUE(up.interval);
  EXPECT_GT(up.interval->low, 1);
  EXPECT_EQ(up.verdict, Verdict::kSlower);
  EXPECT_EQ(pairedRatio(slower, before).verdict, Verdict::kFaster);
  EXPECT_EQ(pairedRatio(before, same).verdict, Verdict::kSame);
  // Five pairs: no interval reaches 95 %, so no verdict either.
  const std::vector<double> five(before.begin(), before.begin() + 5);
  const PairedRatio few = pairedRatio(five, std::vector<double>(slower.begin(), slower.begin() + 5));
  EXPECT_FALSE(few.interval);
  EXPECT_EQ(few.verdict, Verdict::kSame);

  // The runs vary far more between pairs than within them: taken as independent samples, the
  // 5 % change hides in that spread; paired, it does not.
  const std::optional<RatioInterval> independent = independentRatio(before, slower);
  ASSERT_TRUE(independent);
  EXPECT_LT(independent->low, 1);
  EXPECT_GT(independent->high - independent->low, up.interval->high - up.interval->low);
  const std::optional<RatioInterval> doubled = independentRatio(before, [&] {
    std::vector<double> twice;
    for (double b : before) twice.push_back(2 * b);
    return twice;
  }());
  EXPECT_DOUBLE_EQ(doubled->estimate, 2);
  EXPECT_FALSE(independentRatio({1}, {1, 2}));

  // The last third's median over the first third's, thirds rounded up.
  EXPECT_DOUBLE_EQ(drift({10, 10, 11, 12, 20, 20}), 2);
  EXPECT_DOUBLE_EQ(drift({10, 12, 14, 0, 20, 24, 28}), 2);
  EXPECT_DOUBLE_EQ(drift({10}), 1);
}

TEST(PairedStatistics, TheIndependentIntervalCoversWhatItSaysAndPValuesReadAsTheirVerdicts) {
  // 8 and 8 runs: at 95 % the exact critical count is 13 (k = 14, 95.01 %); at the paired
  // interval's 99.2 % for 8 pairs, k = 8 (99.30 %).
  std::vector<double> before, after;
  for (int i = 0; i < 8; ++i) {
    before.push_back(100 + i);
    after.push_back(103.5 + i);
  }
  const std::optional<RatioInterval> at95 = independentRatio(before, after, 0.95);
  ASSERT_TRUE(at95);
  EXPECT_NEAR(at95->confidence, 0.9501165501165502, 1e-12);
  EXPECT_TRUE(at95->reachesWanted);
  const std::optional<RatioInterval> at99 = independentRatio(before, after, 0.9921875);
  EXPECT_NEAR(at99->confidence, 0.993006993006993, 1e-12);
  EXPECT_LT(at99->low, at95->low);
  EXPECT_GT(at99->high, at95->high);
  // The summary sets the independent interval at the paired one's coverage.
  AbSessionRecord session;
  AbCombinationRecord record;
  for (int i = 0; i < 8; ++i) {
    AbPair pair;
    pair.oldRun.timedNanoseconds = before[i];
    pair.newRun.timedNanoseconds = after[i];
    record.pairs.push_back(pair);
  }
  session.combinations.push_back(record);
  const AbSummary summary = summarizeAb(session);
  ASSERT_TRUE(summary.combinations[0].ratio.interval);
  EXPECT_DOUBLE_EQ(summary.combinations[0].independent->confidence, at99->confidence);
  // 2 and 3 pairs cannot reach 95 %: the widest interval covers 1 - 2 / C(4, 2) and
  // 1 - 2 / C(6, 3), and says so.
  const std::optional<RatioInterval> two = independentRatio({1, 2}, {3, 4});
  EXPECT_NEAR(two->confidence, 2.0 / 3, 1e-12);
  EXPECT_FALSE(two->reachesWanted);
  EXPECT_DOUBLE_EQ(two->low, 1.5);
  EXPECT_DOUBLE_EQ(two->high, 4);
  const std::optional<RatioInterval> three = independentRatio({1, 2, 3}, {4, 5, 6});
  EXPECT_NEAR(three->confidence, 0.9, 1e-12);
  EXPECT_FALSE(three->reachesWanted);

  // A p-value's text falls on the same side of the level as the p-value.
  EXPECT_EQ(pValueText(0.04996, 0.05), "0.04996");
  EXPECT_EQ(pValueText(0.0412, 0.05), "0.0412");
  EXPECT_EQ(pValueText(0.05, 0.05), "0.05");
  EXPECT_EQ(pValueText(0.0500004, 0.05), "0.05");
  EXPECT_EQ(pValueText(0.049999999, 0.05), "0.049999999");
  EXPECT_EQ(pValueText(1, 0.05), "1");
}

AbReport reportOf(const std::vector<std::pair<double, double>>& pairs) {
  AbReport report;
  AbCombinationRecord record;
  record.n = 64;
  record.block = 32;
  for (const auto& [before, after] : pairs) {
    AbPair pair;
    pair.oldRun.timedNanoseconds = before;
    pair.newRun.timedNanoseconds = after;
    record.pairs.push_back(pair);
  }
  report.session.combinations.push_back(record);
  report.session.combinationsWanted = 1;
  report.summary = summarizeAb(report.session);
  return report;
}

TEST(AbReport, TheVerdictIsSaidWithItsBasisAndIntervalsAtTheirCoverage) {
  // Seven pairs slower, one a hair faster: the signed-rank test gives p = 4 / 256, but the
  // 99.2 % interval of 8 pairs runs from the smallest ratio to the largest and holds 1.
  std::vector<std::pair<double, double>> pairs;
  for (int i = 0; i < 7; ++i) pairs.emplace_back(1000 + 10 * i, 1030 + 10 * i + i);
  pairs.emplace_back(1000, 999.9);
  const std::string text = formatAb(reportOf(pairs), "text");
  EXPECT_NE(text.find("(median, 99.2 % interval): same, by the interval\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Wilcoxon signed-rank p = 0.0156 (exact), not the verdict's basis"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("(99.3 % interval), width "), std::string::npos) << text;
  EXPECT_NE(text.find("paired at the same coverage"), std::string::npos) << text;
  const std::string markdown = formatAb(reportOf(pairs), "md");
  EXPECT_NE(markdown.find("| same | 0.0156 (exact) |"), std::string::npos) << markdown;
  const json document = json::parse(formatAb(reportOf(pairs), "json"));
  EXPECT_NEAR(document["combinations"][0]["independent_ratio"]["confidence"].get<double>(),
              0.993006993006993, 1e-12);

  // An interrupted session of 3 pairs: the independent interval covers only 90 %, and says so.
  const std::string three = formatAb(reportOf({{100, 110}, {101, 112}, {102, 111}}), "text");
  EXPECT_NE(three.find("(90.0 % interval): too few pairs finished for 95 %"), std::string::npos)
      << three;
  EXPECT_NE(three.find(": same, too few pairs for an interval"), std::string::npos) << three;
  const json short3 =
      json::parse(formatAb(reportOf({{100, 110}, {101, 112}, {102, 111}}), "json"));
  EXPECT_EQ(short3["combinations"][0]["independent_ratio"]["reaches_wanted"], false);
}

AbRun run(double timed, double pivots, double sweep) {
  AbRun r;
  r.timedNanoseconds = timed;
  r.stepNanoseconds = {{"trailing_sweep", sweep}, {"pivots", pivots}, {"zeta", 1}};
  return r;
}

TEST(PairedStatistics, SessionSummaryOrdersStepsAndWarnsOfDrift) {
  AbSessionRecord session;
  for (int n : {64, 128}) {
    AbCombinationRecord c{n, 32, 1, {}};
    for (int i = 0; i < 6; ++i) {
      const double base = 1000 * (1 + 0.1 * i);  // the machine slows down through the session
      AbPair pair{run(base, 10, 900), run(base * (n == 64 ? 1.1 : 1.0), 10, 990), i % 2 == 0};
      if (i == 3) pair.newRun.stepNanoseconds.erase("zeta");  // not timed in every pair
      c.pairs.push_back(pair);
    }
    session.combinations.push_back(c);
  }
  const AbSummary summary = summarizeAb(session);
  ASSERT_EQ(summary.combinations.size(), 2u);
  const AbCombinationSummary& first = summary.combinations[0];
  EXPECT_EQ(first.ratio.verdict, Verdict::kSlower);
  EXPECT_EQ(summary.combinations[1].ratio.verdict, Verdict::kSame);
  EXPECT_NEAR(summary.geometricMeanRatio, std::sqrt(1.1), 1e-12);
  ASSERT_EQ(first.steps.size(), 2u) << "zeta is missing from one pair";
  EXPECT_EQ(first.steps[0].first, "pivots") << "the step table's order, not the alphabet's";
  EXPECT_EQ(first.steps[1].first, "trailing_sweep");
  EXPECT_NEAR(first.steps[1].second.median, 1.1, 1e-12);
  ASSERT_EQ(first.warnings.size(), 2u);
  EXPECT_NE(first.warnings[0].find("old build's runs drifted +38.1 %"), std::string::npos)
      << first.warnings[0];
}

}  // namespace
