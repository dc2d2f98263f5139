#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report export read by the tool it is made for: Google Benchmark's own compare.py.

namespace {

using json = nlohmann::json;

// A run's document with nine timed runs around centre.
json document(double centre) {
  json runs = json::array();
  for (int i = 0; i < 9; ++i) runs.push_back(json{{"timed_ns", centre * (1 + 0.01 * (i % 4))}});
  return json{{"document_kind", "run"},
              {"context", {{"json_schema_version", 2}, {"host_name", "node"}}},
              {"benchmarks",
               json::array({json{{"n", 4096},
                                 {"block", 32},
                                 {"seed", 42},
                                 {"fingerprint", "dd81ca9bfcc2bdf5"},
                                 {"runs", runs}}})}};
}

TEST(ExportTool, GoogleBenchmarksCompareReadsItAndAgreesWithCompare) {
  ScratchDirectory dir("export");
  const std::string fast = dir.write("fast.json", document(1.0e9).dump());
  const std::string slow = dir.write("slow.json", document(1.3e9).dump());
  for (const auto& [source, exported] : {std::pair{fast, "fast-gb.json"}, {slow, "slow-gb.json"}}) {
    const ProcessResult r = runProcess(
        LUBENCH_REPORT_EXECUTABLE,
        {"export", source, "--format", "gbench", "--out", dir.path(exported)});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const ProcessResult script =
      runProcess("/usr/bin/python3", {LUBENCH_GBENCH_COMPARE, "--dump_to_json",
                                      dir.path("diff.json"), "benchmarks",
                                      dir.path("fast-gb.json"), dir.path("slow-gb.json")});
  ASSERT_EQ(script.status, 0) << script.out << script.err;
  std::ifstream in(dir.path("diff.json"));
  const json diff = json::parse(in);
  ASSERT_FALSE(diff.empty());
  const json& entry = diff[0];
  EXPECT_EQ(entry["name"], "lu/n:4096/block:32");
  ASSERT_EQ(entry["measurements"].size(), 9u) << "every run, not only the aggregates";
  EXPECT_NEAR(entry["measurements"][0]["time"].get<double>(), 0.3, 1e-9);
  EXPECT_LT(entry["utest"]["time_pvalue"].get<double>(), 0.001);

  const ProcessResult compared = runProcess(LUBENCH_REPORT_EXECUTABLE,
                                            {"compare", fast, slow, "--format", "json"});
  ASSERT_EQ(compared.status, 0) << compared.err;
  EXPECT_EQ(json::parse(compared.out)["comparisons"][0]["rows"][0]["verdict"], "slower");

  // A document that is not a run's is named, never exported.
  const ProcessResult refused = runProcess(LUBENCH_REPORT_EXECUTABLE,
                                           {"export", dir.path("diff.json"), "--format", "bmf"});
  EXPECT_EQ(refused.status, 64);
  EXPECT_NE(refused.err.find("not a lubench-report document"), std::string::npos) << refused.err;
}

}  // namespace
