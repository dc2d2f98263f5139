#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
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
                                            {"compare", fast, slow, "--noise", "0", "--format", "json"});
  ASSERT_EQ(compared.status, 0) << compared.err;
  EXPECT_EQ(json::parse(compared.out)["comparisons"][0]["rows"][0]["verdict"], "slower");

  // A document that is not a run's is named, never exported.
  const ProcessResult refused = runProcess(LUBENCH_REPORT_EXECUTABLE,
                                           {"export", dir.path("diff.json"), "--format", "bmf"});
  EXPECT_EQ(refused.status, 64);
  EXPECT_NE(refused.err.find("not a lubench-report document"), std::string::npos) << refused.err;
}

TEST(ExportTool, OutputsNeverReplaceTheDocumentAndSaySoWhenTheyAreNotWritten) {
  ScratchDirectory dir("export");
  const std::string text = document(1.0e9).dump();
  const std::string source = dir.write("run.json", text);
  ASSERT_EQ(symlink(source.c_str(), dir.path("link.json").c_str()), 0);
  const auto exported = [&](const std::string& from, const std::string& out,
                            const ProcessSetup& setup = {}) {
    return runProcess(LUBENCH_REPORT_EXECUTABLE,
                      {"export", from, "--format", "bmf", "--out", out}, setup);
  };
  for (const auto& [out, said] : std::vector<std::pair<std::string, std::string>>{
           {source, "names an input"}, {dir.path("link.json"), "names an input"},
           {"", "needs a file name"}}) {
    const ProcessResult r = exported(source, out);
    EXPECT_EQ(r.status, 64) << out << "\n" << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  std::ifstream in(source);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text) << "the document stays";

  ProcessSetup ranked;
  ranked.environment = {"OMPI_COMM_WORLD_RANK=2"};
  ASSERT_EQ(exported(source, dir.path("b-{host}-{rank}.json"), ranked).status, 0);
  std::ifstream named(dir.path("b-" + hostName() + "-2.json"));
  EXPECT_TRUE(json::parse(named, nullptr, false).contains("lu/n:4096/block:32/median"));

  // A file-size limit: the output is not put in place, and the message names it.
  const ProcessResult tooLarge =
      runProcess(LUBENCH_REPORT_EXECUTABLE,
                 {"export", source, "--format", "gbench", "--out", dir.path("small.json")},
                 {.fileSizeLimit = 1024});
  EXPECT_EQ(tooLarge.status, 1);
  EXPECT_NE(tooLarge.err.find("cannot write " + dir.path("small.json") + ": File too large"),
            std::string::npos)
      << tooLarge.err;
  EXPECT_NE(access(dir.path("small.json").c_str(), F_OK), 0);

  // A document without a combination has nothing to export: refused, not written as {}.
  json empty = document(1.0e9);
  empty["benchmarks"] = json::array();
  const ProcessResult nothing =
      runProcess(LUBENCH_REPORT_EXECUTABLE,
                 {"export", dir.write("empty.json", empty.dump()), "--format", "gbench"});
  EXPECT_EQ(nothing.status, 64);
  EXPECT_EQ(nothing.out, "");
  EXPECT_NE(nothing.err.find("holds no combination"), std::string::npos) << nothing.err;

  // A FIFO nobody reads: a signal ends the wait with its own status and says what was lost.
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ProcessSetup interrupted;
  interrupted.signal = SIGTERM;
  interrupted.signalAfterMilliseconds = 1500;
  const ProcessResult r = exported(source, fifo, interrupted);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGTERM while waiting for a reader of " + fifo +
                       ": the export was not written"),
            std::string::npos)
      << r.err;
}

}  // namespace
