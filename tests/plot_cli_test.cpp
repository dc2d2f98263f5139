#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report plot on the documents every command writes, and on what is not one: each
// kind's picture, --plot's picture the same as plot's of the saved document, refusals before
// anything is drawn, and a gnuplot that fails leaving the outputs as they were.

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

ProcessResult report(const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, setup);
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool gnuplotInstalled() { return std::system("command -v gnuplot > /dev/null") == 0; }

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The documents of a small sweep, an A/B session, a comparison and a fleet, made once by the
// commands themselves.
class PlotTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDirectory("lubench-plot");
    const auto made = [](const ProcessResult& result) {
      ASSERT_TRUE(result.status == 0 || result.status == 3) << result.err;
    };
    made(report({"--n", "32,48,64", "--block", "16,32", "--repeat", "3", "--seed", "5",
                 "--no-peak", "--out", path("run.json")}));
    made(report({"--n", "48", "--block", "8,16,32", "--repeat", "2", "--seed", "5", "--no-peak",
                 "--out", path("blocks.json")}));
    made(report({"--n", "32,48,64", "--block", "16,32", "--repeat", "3", "--seed", "5",
                 "--no-peak", "--out", path("again.json")}));
    made(report({"compare", path("run.json"), path("again.json"), "--out", path("compare.json")}));
    made(report({"ab", LUBENCH_REPORT_EXECUTABLE, LUBENCH_REPORT_EXECUTABLE, "--n", "48",
                 "--pairs", "6", "--seed", "2", "--out", path("ab.json")}));
    fs::create_directory(path("nodes"));
    for (const char* rank : {"0", "1", "2"}) {
      made(report({"--n", "48", "--repeat", "2", "--seed", "5", "--no-peak", "--out",
                   path("nodes/" + std::string(rank) + ".json")},
                  {.environment = {std::string("OMPI_COMM_WORLD_RANK=") + rank}}));
    }
    // One node that computes wrong.
    json odd = json::parse(readAll(path("nodes/2.json")));
    odd["benchmarks"][0]["fingerprint"] = "0123456789abcdef";
    std::ofstream(path("nodes/2.json")) << odd.dump();
    made(report({"fleet", path("nodes"), "--out", path("fleet.json")}));
    ready_ = !::testing::Test::HasFatalFailure();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(ready_) << "the documents to draw could not be made";
    if (!gnuplotInstalled()) GTEST_SKIP() << "gnuplot is not installed";
  }
  static std::string path(const std::string& name) { return dir_->path(name); }

  static ScratchDirectory* dir_;
  static bool ready_;
};

ScratchDirectory* PlotTool::dir_ = nullptr;
bool PlotTool::ready_ = false;

TEST_F(PlotTool, EachKindOfDocumentIsDrawnWithWhatItHolds) {
  struct Case {
    std::string document;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      // One curve per block, the title's facts (the axes' ticks: tests/kind_reader_test.cpp).
      {"run.json",
       {"block 16: median", "block 32: median", "seed 5", "build 0.", "rate against n",
        "ran on"}},
      {"blocks.json", {"rate against block, n 48", "median, bars its 95 % interval"}},
      {"ab.json", {"1: no change", "old ran first", "new ran first", "timed region",
                   "new / old"}},
      {"compare.json", {"n 32, block 16", "n 64, block 32", "change of the median"}},
      {"fleet.json", {"fingerprint dissents", "group median", "slow band", "rank 2"}},
  };
  for (const Case& c : cases) {
    const ProcessResult drawn = report({"plot", path(c.document), "--out", path("p.svg")});
    ASSERT_EQ(drawn.status, 0) << c.document << ": " << drawn.err;
    const std::string svg = readAll(path("p.svg"));
    EXPECT_TRUE(svg.starts_with("<?xml")) << c.document;
    // An opaque background, so that black axes show on a dark page.
    EXPECT_TRUE(contains(svg, "fill=\"#ffffff\"")) << c.document;
    for (const std::string& shown : c.shown) {
      EXPECT_TRUE(contains(svg, shown)) << c.document << " lacks " << shown;
    }
  }
  // A PNG, and several documents in one picture, each named.
  const ProcessResult both =
      report({"plot", path("run.json"), path("fleet.json"), "--out", path("p.png"), "--out",
              path("q.svg")});
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(readAll(path("p.png")).substr(1, 3), "PNG");
  const std::string svg = readAll(path("q.svg"));
  EXPECT_TRUE(contains(svg, "[1] lubench: blocked LU") && contains(svg, "[2] lubench-report fleet"));
  EXPECT_TRUE(contains(svg, "from " + path("fleet.json")));
}

TEST_F(PlotTool, PlotOptionDrawsWhatPlotDrawsOfTheSavedDocument) {
  const ProcessResult ran =
      report({"--n", "32,48", "--block", "16", "--repeat", "3", "--seed", "8", "--no-peak",
              "--copies", "1", "--out", path("c.json"), "--plot", path("direct.svg")});
  ASSERT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(report({"plot", path("c.json"), "--out", path("later.svg")}).status, 0);
  const std::string direct = readAll(path("direct.svg"));
  EXPECT_EQ(direct, readAll(path("later.svg")));
  EXPECT_TRUE(contains(direct, "each CPU beside the single copy")) << "--copies has its panel";
  EXPECT_TRUE(contains(direct, "the single copy alone"));
}

TEST_F(PlotTool, WhatIsNotADocumentIsRefusedBeforeAnythingIsDrawn) {
  const std::string fifo = path("fifo.json");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(path("text.json")) << "not json";
  std::ofstream(path("empty.json")) << R"({"document_kind": "run", "context": {"json_schema_version": 2}, "benchmarks": []})";
  std::ofstream(path("kept.svg")) << "kept";
  struct Case {
    std::vector<std::string> arguments;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{"plot", fifo, "--out", path("kept.svg")}, "a FIFO"},
      {{"plot", path("text.json"), "--out", path("kept.svg")}, "is not JSON"},
      {{"plot", path("run.json"), path("text.json"), "--out", path("kept.svg")}, "is not JSON"},
      {{"plot", path("empty.json"), "--out", path("kept.svg")}, "nothing to draw"},
      {{"plot", path("run.json"), "--out", path("p.pdf")}, ".svg or .png"},
      {{"plot", path("run.json"), "--out", path("run.json")}, "run.json"},
      {{"plot", path("run.json"), "--out", path("kept.svg"), "--out", path("kept.svg")}, "twice"},
      {{"plot", path("run.json")}, "--out"},
      {{"plot", "--out", path("kept.svg")}, "documents"},
  };
  for (const Case& c : cases) {
    const ProcessResult refused = report(c.arguments);
    EXPECT_EQ(refused.status, 64) << c.said << ": " << refused.err;
    EXPECT_TRUE(contains(refused.err, c.said)) << refused.err;
    EXPECT_EQ(readAll(path("kept.svg")), "kept") << c.said;
  }
  // Without gnuplot, what to install.
  const ProcessResult missing = report({"plot", path("run.json"), "--out", path("kept.svg")},
                                       {.environment = {"PATH=/nonexistent"}});
  EXPECT_EQ(missing.status, 64);
  EXPECT_TRUE(contains(missing.err, "gnuplot-nox")) << missing.err;
}

TEST_F(PlotTool, AGnuplotThatFailsLeavesEveryOutputAsItWas) {
  // A gnuplot of the test's own that reads its script and fails.
  fs::create_directory(path("bin"));
  const std::string fake = path("bin/gnuplot");
  std::ofstream(fake) << "#!/bin/sh\ncat > /dev/null\necho 'no terminal' >&2\nexit 1\n";
  fs::permissions(fake, fs::perms::owner_all);
  std::ofstream(path("old.svg")) << "old";
  const ProcessResult failed =
      report({"plot", path("run.json"), "--out", path("old.svg"), "--out", path("new.png")},
             {.environment = {"PATH=" + path("bin") + ":/usr/bin:/bin"}});
  EXPECT_EQ(failed.status, 1) << failed.err;
  EXPECT_TRUE(contains(failed.err, "gnuplot could not draw")) << failed.err;
  EXPECT_EQ(readAll(path("old.svg")), "old");
  EXPECT_FALSE(fs::exists(path("new.png")));
}

}  // namespace
