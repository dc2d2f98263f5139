#include "report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "project.hpp"
#include "reference.hpp"
#include "verification.hpp"

namespace {

// A 3 x 3 system with an exact integer solution: every product and sum in A x is exact, so the
// residual of the true solution is exactly zero.
const std::vector<double> kMatrix = {4, -2, 1, -2, 4, -2, 1, -2, 4};
const std::vector<double> kSolution = {1, 2, 3};
const std::vector<double> kRhs = {3, 0, 9};

TEST(ScaledResidual, KnownSolutionsAndDamagedOnes) {
  EXPECT_EQ(scaledResidual(kMatrix.data(), kSolution.data(), kRhs.data(), 3), 0.0);
  // b = 0 solved exactly by x = 0: zero, not 0/0.
  const std::vector<double> zeros(3, 0.0);
  EXPECT_EQ(scaledResidual(kMatrix.data(), zeros.data(), zeros.data(), 3), 0.0);

  // One unit in the last place of x[1] is within rounding: r stays far below 16.
  std::vector<double> nearly = kSolution;
  nearly[1] = std::nextafter(2.0, 3.0);
  EXPECT_TRUE(residualPassed(scaledResidual(kMatrix.data(), nearly.data(), kRhs.data(), 3)));

  // An error of 1e-9 in one entry is hundreds of thousands of rounding errors.
  std::vector<double> damaged = kSolution;
  damaged[2] += 1e-9;
  const double r = scaledResidual(kMatrix.data(), damaged.data(), kRhs.data(), 3);
  EXPECT_GT(r, 1e4);
  EXPECT_FALSE(residualPassed(r));

  // A solution with a NaN or an infinity can never pass.
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    std::vector<double> broken = kSolution;
    broken[0] = bad;
    const double residual = scaledResidual(kMatrix.data(), broken.data(), kRhs.data(), 3);
    EXPECT_TRUE(std::isnan(residual));
    EXPECT_FALSE(residualPassed(residual));
  }
}

TEST(ScaledResidual, OfTheBlockedFactorisationPassesOnAndOffTheTileEdge) {
  for (int n : {1, 2, 31, 33, 65, 200}) {
    for (int b : {1, 7, 32}) {
      const std::vector<double> original = randomMatrix(n, 11);
      std::vector<double> a = original, s(a.size(), 0.0), x(n);
      std::vector<int> perm = identityPermutation(n);
      const std::vector<double> rhs = rampVector(n);
      blockedLu(a.data(), perm.data(), s.data(), n, b);
      luSolve(perm.data(), a.data(), rhs.data(), n, x.data());
      EXPECT_LT(scaledResidual(original.data(), x.data(), rhs.data(), n), kResidualBound)
          << "n = " << n << ", b = " << b;
    }
  }
}

TEST(Spread, MinMedianMax) {
  const Spread odd = spreadOf({5, 1, 3});
  EXPECT_EQ(odd.min, 1);
  EXPECT_EQ(odd.median, 3);
  EXPECT_EQ(odd.max, 5);
  EXPECT_EQ(spreadOf({4, 1, 3, 2}).median, 2.5);
  EXPECT_EQ(spreadOf({7}).median, 7);
}

ReportOptions smallOptions() {
  ReportOptions options;
  options.n = 97;
  options.block = 7;
  options.seed = 5;
  options.seedGiven = true;
  return options;
}

TEST(Report, RepeatedRunsPassAgreeAndMatchTheScalarRendering) {
  ReportOptions options = smallOptions();
  options.repeat = 3;
  options.checkReference = true;
  const std::optional<Report> report = runReport(options, stderr);
  ASSERT_TRUE(report.has_value());
  EXPECT_TRUE(report->warmUp);
  ASSERT_EQ(report->runs.size(), 3u);
  EXPECT_EQ(report->reference, ReferenceCheck::kIdentical);

  // The fingerprint is that of the scalar rendering's factorisation of the same data.
  std::vector<double> a = randomMatrix(options.n, options.seed), s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(options.n);
  reference::blockedLu(a.data(), perm.data(), s.data(), options.n, options.block);
  for (const RunRecord& run : report->runs) {
    EXPECT_EQ(run.fingerprint, fingerprint(a.data(), perm.data(), options.n));
    EXPECT_TRUE(residualPassed(run.residual));
    EXPECT_GT(run.timedNanoseconds, 0);
    long long steps = run.solveNanoseconds;
    for (long long step : run.stepNanoseconds) steps += step;
    // The steps are timed inside the timed region, one after another.
    EXPECT_LE(steps, run.timedNanoseconds);
  }
  EXPECT_TRUE(reportPassed(*report));
  EXPECT_EQ(exitStatus(*report), 0);
  EXPECT_EQ(runReport(smallOptions(), stderr)->warmUp, false);
}

TEST(Report, AnyFailedCheckFailsTheReport) {
  const Report good = *runReport(smallOptions(), stderr);
  ASSERT_EQ(exitStatus(good), 0);

  Report damagedSolution = good;
  damagedSolution.runs.front().residual = 1e9;
  Report notFinite = good;
  notFinite.runs.front().residual = std::numeric_limits<double>::quiet_NaN();
  Report differsFromReference = good;
  differsFromReference.reference = ReferenceCheck::kDiffers;
  Report runsDisagree = good;
  runsDisagree.runs.push_back(good.runs.front());
  runsDisagree.runs.back().fingerprint ^= 1;
  for (const Report* bad : {&damagedSolution, &notFinite, &differsFromReference, &runsDisagree}) {
    EXPECT_FALSE(reportPassed(*bad));
    EXPECT_EQ(exitStatus(*bad), 2);
    EXPECT_NE(formatTable(*bad).find("result: FAILED"), std::string::npos);
    EXPECT_EQ(toJson(*bad)["passed"], false);
  }
}

TEST(Report, FingerprintIsTheSameOnEveryBuild) {
  // Recorded from the plain scalar rendering's factorisation of this matrix. Every build (any
  // compiler, optimisation level or vector width) must reproduce it; CI runs this test on the
  // native-vector, baseline, Clang and sanitizer builds.
  ReportOptions options;
  options.n = 130;
  options.block = 32;
  options.seed = 2026;
  options.seedGiven = true;
  const std::string recorded = "98bca7d37ba07b5c";
  EXPECT_EQ(formatFingerprint(runReport(options, stderr)->runs.front().fingerprint), recorded);
  std::vector<double> a = randomMatrix(options.n, options.seed), s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(options.n);
  reference::blockedLu(a.data(), perm.data(), s.data(), options.n, options.block);
  EXPECT_EQ(formatFingerprint(fingerprint(a.data(), perm.data(), options.n)), recorded);
}

TEST(Report, JsonCarriesTheSameFacts) {
  ReportOptions options = smallOptions();
  options.repeat = 2;
  const Report report = *runReport(options, stderr);
  const nlohmann::json parsed = nlohmann::json::parse(toJson(report).dump());
  EXPECT_EQ(parsed["n"], 97);
  EXPECT_EQ(parsed["block"], 7);
  EXPECT_EQ(parsed["seed"], 5);
  EXPECT_EQ(parsed["seed_from_clock"], false);
  EXPECT_EQ(parsed["warm_up"], true);
  ASSERT_EQ(parsed["runs"].size(), 2u);
  EXPECT_EQ(parsed["runs"][1]["timed_ns"], report.runs[1].timedNanoseconds);
  EXPECT_EQ(parsed["runs"][0]["steps_ns"].size(), static_cast<std::size_t>(kLuStepCount) + 1);
  EXPECT_EQ(parsed["fingerprint"], formatFingerprint(report.runs[0].fingerprint));
  EXPECT_EQ(parsed["reference_check"], nullptr);
  EXPECT_EQ(parsed["passed"], true);
  EXPECT_LE(parsed["timed_ns"]["min"].get<double>(), parsed["timed_ns"]["max"].get<double>());
  double shares = 0;
  for (const auto& step : parsed["steps_ns"]) shares += step["share_of_median"].get<double>();
  EXPECT_GT(shares, 0.0);
  EXPECT_LE(shares, 1.0 + 1e-9);
}

TEST(Peak, MeasuredWithinItsTimeAndPositive) {
  const PeakMeasurement peak = measurePeak(0.2);
  EXPECT_GT(peak.gflops, 0.0);
  EXPECT_GE(peak.tries, 2);
  EXPECT_LE(peak.seconds, 0.25);
}

TEST(ParseList, DistinctWholeNumbersSeparatedByCommas) {
  EXPECT_EQ(parseList("1024,2048,4096", 5000).values, (std::vector<int>{1024, 2048, 4096}));
  EXPECT_EQ(parseList("7", 10).values, std::vector<int>{7});
  EXPECT_EQ(parseList("010,9", 10).values, (std::vector<int>{10, 9}));
  for (const char* bad : {"", ",", "1,,2", "1,2,", "1,1", "0", "11", "1,-2", "1;2", "2,02"}) {
    EXPECT_FALSE(parseList(bad, 10).error.empty()) << bad;
  }
}

TEST(Report, DivertedStandardOutputKeepsMessagesOutOfTheDocument) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    StandardOutputDiversion diversion;
    std::puts("LUfactoration failed: coefficient matrix is singular");
  }
  std::fputs("{}", stdout);
  std::fflush(stdout);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "{}");
  EXPECT_NE(err.find("coefficient matrix is singular"), std::string::npos);
}

}  // namespace
