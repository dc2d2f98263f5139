#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report --expect: each combination's median rate set against the reference band of
// the machine it ran on, in every output and in the exit status.

namespace {

using json = nlohmann::json;

const std::vector<std::string> kTinyRun = {"--n", "64", "--block", "32", "--repeat", "1",
                                           "--seed", "1", "--no-peak"};

ProcessResult report(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), kTinyRun.begin(), kTinyRun.end());
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments);
}

std::string bands(const ScratchDirectory& dir, const std::string& model, const std::string& path,
                  double lower, double upper) {
  const json entry{{"cpu_model", model}, {"vector_path", path}, {"n", 64}, {"block", 32},
                   {"gflops", lower},    {"lower", lower},      {"upper", upper}};
  return dir.write("bands.json",
                   json{{"document_kind", "expectations"}, {"expectations", {entry}}}.dump());
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ExpectOption, EachCombinationIsCheckedAgainstTheBandOfItsMachineAndPath) {
  ScratchDirectory dir("expect");
  // No band for this machine: said, not failed; what the machine is comes from the document.
  std::string file = bands(dir, "no such CPU", "avx2", 1, 2);
  ProcessResult r = report({"--format", "json", "--expect", file});
  ASSERT_EQ(r.status, 0) << r.err;
  json document = json::parse(r.out);
  EXPECT_EQ(document["context"]["expectations_file"], file);
  json benchmark = document["benchmarks"][0];
  EXPECT_EQ(benchmark["expectation"]["verdict"], "no_reference") << benchmark["expectation"];
  EXPECT_TRUE(benchmark["expectation"]["upper"].is_null());
  const json model = document["context"]["cpu_model"];
  const std::string path = benchmark["vector_path"];
  EXPECT_NE(r.err.find("lubench-report: no reference: n 64, block 32 on " + path +
                       ": no reference band for "),
            std::string::npos)
      << r.err;
  if (!model.is_string()) GTEST_SKIP() << "this machine does not name its CPU model";

  // A band no machine reaches: below it, in every output, and status 4.
  file = bands(dir, model, path, 1e6, 2e6);
  const std::string csv = dir.path("rows.csv"), md = dir.path("rows.md");
  r = report({"--format", "json", "--expect", file, "--out", csv, "--out", md});
  EXPECT_EQ(r.status, 4) << r.err;
  benchmark = json::parse(r.out)["benchmarks"][0];
  EXPECT_EQ(benchmark["expectation"]["verdict"], "below");
  EXPECT_EQ(benchmark["expectation"]["lower"], 1e6);
  EXPECT_EQ(benchmark["expectation"]["upper"], 2e6);
  EXPECT_EQ(benchmark["expectation"]["measured_gflops"], benchmark["gflops"]["median"]);
  EXPECT_NE(r.err.find("lubench-report: OUTSIDE BAND: n 64, block 32 on " + path + ": "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(" is below the band 1000000.0–2000000.0 GFLOP/s expected of " +
                       model.get<std::string>()),
            std::string::npos)
      << r.err;
  const std::string rows = fileText(csv);
  EXPECT_NE(rows.find(",expectation\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find(",below\n"), std::string::npos) << rows;
  EXPECT_NE(fileText(md).find("| expected 1000000.0–2000000.0 GFLOP/s: below |"),
            std::string::npos)
      << fileText(md);

  // Faster than its band is outside it too.
  r = report({"--format", "csv", "--expect", bands(dir, model, path, 1e-9, 2e-9)});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find(",above\n"), std::string::npos) << r.out;

  // A band any run falls in: within, status 0, in the table and its summary row.
  r = report({"--expect", bands(dir, model, path, 1e-6, 1e6)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("reference band: median "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("GFLOP/s, expected 1e-06–1000000.0 GFLOP/s: within\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err.find("BAND"), std::string::npos) << r.err;

  // Without --expect: no check, and no column.
  r = report({"--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  document = json::parse(r.out);
  EXPECT_TRUE(document["benchmarks"][0]["expectation"].is_null());
  EXPECT_TRUE(document["context"]["expectations_file"].is_null());
  EXPECT_EQ(report({"--format", "csv"}).out.find("expectation"), std::string::npos);
}

TEST(ExpectOption, BandsThatCannotBeReadAreUsageErrorsBeforeAnythingRuns) {
  ScratchDirectory dir("expect");
  const std::string fifo = dir.path("bands.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string run = dir.write("run.json", R"({"document_kind": "run"})");
  const std::string inverted = dir.write(
      "inverted.json",
      R"({"document_kind": "expectations", "expectations": [{"cpu_model": "X",
          "vector_path": "avx2", "n": 64, "block": 32, "gflops": 5, "lower": 6, "upper": 7}]})");
  struct Case {
    std::vector<std::string> arguments;
    std::string said;
  };
  const std::string good = bands(dir, "X", "avx2", 1, 2);
  const std::string svg = dir.write("bands.svg", fileText(good));
  for (const Case& c : std::vector<Case>{
           {{"--expect", dir.path("missing.json")}, "--expect: cannot read "},
           {{"--expect", fifo}, "bands.fifo is a FIFO, not a document"},
           {{"--expect", run},
            "run.json: is a run's document, not a reference bands' document"},
           {{"--expect", inverted},
            "inverted.json: expectations[0]: the band must hold the expected rate"},
           {{"--expect", good, "--out", good}, "bands.json names the --expect file"},
           {{"--expect", svg, "--plot", svg}, "bands.svg names the --expect file"}}) {
    const ProcessResult r = report(c.arguments);
    EXPECT_EQ(r.status, 64) << c.said << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.said;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.said << "\n" << r.err;
  }
  EXPECT_NE(fileText(good).find("\"expectations\""), std::string::npos) << "never written";
}

}  // namespace
