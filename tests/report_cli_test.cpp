#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "process_runner.hpp"

namespace {

ProcessResult runReportTool(const std::vector<std::string>& arguments,
                            Stdout target = Stdout::kCaptured) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, target);
}

TEST(ReportTool, BadOptionsAreUsageErrors) {
  const std::vector<std::vector<std::string>> badOptions = {
      {"--n", "abc"},    {"--n", "0"},     {"--n", "-5"}, {"--block", "0"},   {"--block", "x7"},
      {"--repeat", "0"}, {"--seed", "-1"}, {"--unknown"}, {"--n", "12", "13"}};
  for (const std::vector<std::string>& arguments : badOptions) {
    const ProcessResult run = runReportTool(arguments);
    const std::string shown = arguments.front() + (arguments.size() > 1 ? " " + arguments[1] : "");
    EXPECT_EQ(run.status, 64) << shown;
    EXPECT_EQ(run.out, "") << shown;
    // One line naming the problem, then the usage.
    EXPECT_TRUE(run.err.starts_with("lubench-report: ")) << shown << ": " << run.err;
    EXPECT_NE(run.err.find("--check-reference"), std::string::npos) << shown;
  }
}

TEST(ReportTool, HelpListsTheOptions) {
  const ProcessResult run = runReportTool({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--n", "--block", "--seed", "--repeat", "--json", "--check-reference"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

TEST(ReportTool, AnOrderTooLargeToAllocateFailsCleanly) {
  // 3e9^2 doubles do not even fit a size_t.
  const ProcessResult run = runReportTool({"--n", "2000000000", "--seed", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("lubench-report: cannot allocate the matrix A for --n 2000000000"),
            std::string::npos)
      << run.err;
}

TEST(ReportTool, TableReportsAPassedRun) {
  const ProcessResult run = runReportTool({"--n", "100", "--block", "7", "--seed", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* fact : {"n 100, block 7, seed 3", "vector path:", "compiler:", "GFLOP/s",
                           "trailing update", "solves", "PASSED", "result: PASSED"})
    EXPECT_NE(run.out.find(fact), std::string::npos) << fact << " in\n" << run.out;
}

TEST(ReportTool, JsonIsTheOnlyOutputAndParses) {
  const ProcessResult run = runReportTool({"--n", "64", "--block", "16", "--seed", "9", "--repeat",
                                           "2", "--json", "--check-reference"});
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out;
  EXPECT_EQ(report["n"], 64);
  EXPECT_EQ(report["runs"].size(), 2u);
  EXPECT_EQ(report["reference_check"], "identical");
  EXPECT_EQ(report["passed"], true);
}

TEST(ReportTool, ALostReportIsAFailure) {
  const ProcessResult run = runReportTool({"--n", "32", "--seed", "1"}, Stdout::kFullDevice);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write the result to standard output"), std::string::npos);
}

}  // namespace
