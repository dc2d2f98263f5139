#include "export.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The exports' layouts: what Google Benchmark's tools and Bencher read from them.

namespace {

using json = nlohmann::json;

SavedDocument twoCombinations() {
  SavedDocument document;
  document.path = "runs.json";
  document.contextText =
      R"({"json_schema_version":2,"host_name":"h","mhz_per_cpu":2595.1,"cpu_model":"X"})";
  document.combinations.push_back(
      {4096, 32, 1, "0123456789abcdef", {10, 20, 30, 40, 50, 60}, {}, {}});
  document.combinations.push_back({512, 64, 1, "0123456789abcdef", {7, 9}, {}, {}});
  return document;
}

TEST(Export, GoogleBenchmarkEntriesEveryRunThenTheAggregates) {
  const json out = json::parse(exportDocument(twoCombinations(), "gbench"));
  const json& context = out["context"];
  EXPECT_EQ(context["host_name"], "h");
  EXPECT_EQ(context["mhz_per_cpu"], 2595) << "a whole number, as Google Benchmark writes it";
  EXPECT_EQ(context["lubench_context"]["cpu_model"], "X") << "nothing of the source is lost";
  EXPECT_NE(context["lubench_export"]["statistic"].get<std::string>().find(
                "cpu_time equals real_time"),
            std::string::npos);
  const json& b = out["benchmarks"];
  ASSERT_EQ(b.size(), 6u + 4 + 2 + 4);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(b[i]["name"], "lu/n:4096/block:32");
    EXPECT_EQ(b[i]["run_type"], "iteration");
    EXPECT_EQ(b[i]["repetition_index"], i);
    EXPECT_EQ(b[i]["real_time"], 10.0 * (i + 1));
    EXPECT_EQ(b[i]["cpu_time"], b[i]["real_time"]);
    EXPECT_EQ(b[i]["time_unit"], "ns");
  }
  EXPECT_EQ(b[6]["name"], "lu/n:4096/block:32_mean");
  EXPECT_EQ(b[6]["real_time"], 35);
  EXPECT_EQ(b[7]["aggregate_name"], "median");
  EXPECT_EQ(b[7]["real_time"], 35);
  EXPECT_NEAR(b[8]["real_time"].get<double>(), 18.708286933869708, 1e-9);
  EXPECT_EQ(b[9]["aggregate_unit"], "percentage");
  EXPECT_NEAR(b[9]["real_time"].get<double>(), 18.708286933869708 / 35, 1e-12);
  EXPECT_EQ(b[10]["name"], "lu/n:512/block:64");
  EXPECT_EQ(b[10]["family_index"], 1);
}

TEST(Export, BencherMetricsCarryTheMedianAndItsIntervalWhenThereIsOne) {
  const json out = json::parse(exportDocument(twoCombinations(), "bmf"));
  ASSERT_EQ(out.size(), 2u);
  const json& wide = out["lu/n:4096/block:32/median"]["latency"];
  EXPECT_EQ(wide["value"], 35);
  EXPECT_EQ(wide["lower_value"], 10) << "six runs: the extremes cover the median at 96.9 %";
  EXPECT_EQ(wide["upper_value"], 60);
  const json& narrow = out["lu/n:512/block:64/median"]["latency"];
  EXPECT_EQ(narrow["value"], 8);
  EXPECT_FALSE(narrow.contains("lower_value")) << "two runs: no interval, none invented";
}

TEST(Export, AnAskedKernelIsInTheNameAndTheAutomaticChoiceKeepsItsName) {
  SavedDocument document = twoCombinations();
  SavedCombination forced = document.combinations[0];
  forced.kernelOption = "bands_6_5x4v8";
  document.combinations.push_back(forced);
  const json gbench = json::parse(exportDocument(document, "gbench"));
  EXPECT_EQ(gbench["benchmarks"][0]["name"], "lu/n:4096/block:32");
  const json& last = gbench["benchmarks"].back();
  EXPECT_EQ(last["name"], "lu/n:4096/block:32/kernel:bands_6_5x4v8_cv");
  EXPECT_EQ(last["run_name"], "lu/n:4096/block:32/kernel:bands_6_5x4v8");
  EXPECT_EQ(last["family_index"], 2);
  const json bmf = json::parse(exportDocument(document, "bmf"));
  EXPECT_EQ(bmf.size(), 3u) << "the two kernels of one n and block stay apart";
  EXPECT_TRUE(bmf.contains("lu/n:4096/block:32/median"));
  EXPECT_TRUE(bmf.contains("lu/n:4096/block:32/kernel:bands_6_5x4v8/median"));
}

}  // namespace
