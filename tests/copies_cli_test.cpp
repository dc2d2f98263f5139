#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report --copies end to end: every allowed CPU at once, and a copy that computes wrong
// or dies, made so by a test executable that hands the copies a fault.

namespace {

using json = nlohmann::json;

int allowedCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
}

json parsed(const std::string& text) {
  json out = json::parse(text, nullptr, false);
  EXPECT_FALSE(out.is_discarded()) << text;
  return out;
}

TEST(Copies, EveryCpuRunsTheSameCombinationTogetherAndAgrees) {
  const ProcessResult r = runProcess(
      LUBENCH_REPORT_EXECUTABLE,
      {"--n", "96,128", "--repeat", "3", "--seed", "4", "--no-peak", "--copies", "all", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json document = parsed(r.out);
  const int cpus = allowedCpuCount();
  for (const json& b : document["benchmarks"]) {
    ASSERT_EQ(b["runs"].size(), 3u) << "the single copy's runs stay where readers look";
    const json& copies = b["copies"];
    ASSERT_EQ(copies["count"], cpus);
    std::set<int> seen;
    for (const json& copy : copies["per_copy"]) {
      seen.insert(copy["cpu"].get<int>());
      ASSERT_EQ(copy["runs"].size(), 3u);
      EXPECT_EQ(copy["fingerprint"], b["fingerprint"]);
      EXPECT_TRUE(copy["agrees"].get<bool>());
      for (const json& run : copy["runs"]) {
        EXPECT_EQ(run["end_ns"].get<long long>() - run["start_ns"].get<long long>(),
                  run["timed_ns"].get<long long>());
      }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(cpus)) << "one copy per CPU";
    EXPECT_EQ(document["context"]["pinned_cpu"], copies["per_copy"][0]["cpu"]);
    EXPECT_GT(copies["total_gflops"].get<double>(), 0);
    EXPECT_GT(copies["contention_ratio"].get<double>(), 0);
    EXPECT_GE(copies["overlap"].get<double>(), 0);
    EXPECT_TRUE(copies["dissents"].empty());
  }
  const ProcessResult text = runProcess(
      LUBENCH_REPORT_EXECUTABLE, {"--n", "64", "--seed", "4", "--no-peak", "--copies", "1"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("copies: 1 at once"), std::string::npos) << text.out;
}

TEST(Copies, ACopyThatComputesWrongOrDiesIsNamedAndTheOthersKept) {
  if (allowedCpuCount() < 2) GTEST_SKIP() << "needs two CPUs for a second copy";
  for (const auto& [fault, status, said] : std::vector<std::tuple<std::string, int, std::string>>{
           {"fingerprint", 3, "COPIES DISAGREE: CPU "}, {"die", 1, "killed by SIGKILL"}}) {
    SCOPED_TRACE(fault);
    ProcessSetup setup;
    setup.environment = {"LUBENCH_TEST_COPY_FAULT=" + fault};
    const ProcessResult r =
        runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE,
                   {"--n", "96", "--repeat", "2", "--seed", "4", "--no-peak", "--copies", "all",
                    "--json"},
                   setup);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    const json copies = parsed(r.out)["benchmarks"][0]["copies"];
    EXPECT_EQ(copies["per_copy"][0]["runs"].size(), 2u) << "the first copy is kept";
    EXPECT_TRUE(copies["per_copy"][0]["agrees"].get<bool>());
    if (fault == "fingerprint") {
      EXPECT_FALSE(copies["per_copy"][1]["agrees"].get<bool>());
      EXPECT_NE(copies["dissents"][0].get<std::string>().find(
                    "CPU " + std::to_string(copies["per_copy"][1]["cpu"].get<int>())),
                std::string::npos);
    } else {
      EXPECT_FALSE(copies["per_copy"][1]["finished"].get<bool>());
      EXPECT_EQ(copies["per_copy"][1]["signal"], "SIGKILL");
    }
  }
  // A copy that throws ends as a copy: the report's own output file is not touched by it.
  {
    ScratchDirectory dir("copies");
    ProcessSetup setup;
    setup.environment = {"LUBENCH_TEST_COPY_FAULT=throw"};
    const ProcessResult r = runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE,
                                       {"--n", "64", "--seed", "4", "--no-peak", "--copies", "2",
                                        "--summary", "--out", dir.path("r.json")},
                                       setup);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("ended with status 70"), std::string::npos) << r.err;
    std::ifstream in(dir.path("r.json"));
    const json copies = json::parse(in, nullptr, false)["benchmarks"][0]["copies"];
    EXPECT_EQ(copies["per_copy"][1]["exit_status"], 70);
    EXPECT_TRUE(copies["per_copy"][0]["finished"].get<bool>());
  }
  // Without a fault the same executable passes: the fault is the test's, not the report's.
  const ProcessResult clean = runProcess(
      LUBENCH_FAULTY_COPIES_EXECUTABLE, {"--n", "64", "--seed", "4", "--no-peak", "--copies", "2"});
  EXPECT_EQ(clean.status, 0) << clean.err;
}

TEST(Copies, ADeadCopySaysHowItDiedAndTheResultLineSaysWhatFailed) {
  if (allowedCpuCount() < 2) GTEST_SKIP() << "needs two CPUs for a second copy";
  const auto faulty = [](const std::string& fault, std::vector<std::string> more) {
    ProcessSetup setup;
    setup.environment = {"LUBENCH_TEST_COPY_FAULT=" + fault};
    std::vector<std::string> arguments{"--n", "64", "--seed", "4", "--no-peak", "--copies", "2"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE, arguments, setup);
  };
  for (const auto& [fault, died] : std::vector<std::pair<std::string, std::string>>{
           {"die", "killed by SIGKILL"}, {"throw", "ended with status 70 without a result"}}) {
    const ProcessResult r = faulty(fault, {"--json"});
    EXPECT_EQ(r.status, 1) << r.err;
    const json dead = parsed(r.out)["benchmarks"][0]["copies"]["per_copy"][1];
    EXPECT_EQ(dead["died"], died) << dead;
    EXPECT_TRUE(dead["agrees"].is_null() && dead["median_timed_ns"].is_null()) << dead;
    EXPECT_EQ(dead["exit_status"].is_null(), fault == "die") << dead;
  }
  // Every copy hung up on: no figure is made of copies that made none.
  const ProcessResult all = faulty("hangup", {"--json"});
  EXPECT_EQ(all.status, 1) << all.err;
  const json copies = parsed(all.out)["benchmarks"][0]["copies"];
  EXPECT_TRUE(copies["total_gflops"].is_null() && copies["overlap"].is_null()) << copies;
  const ProcessResult text = faulty("hangup", {"--summary"});
  EXPECT_NE(text.out.find("no copy finished"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("result: FAILED (copies died: CPU "), std::string::npos) << text.out;
  // A dissent keeps its status 3 and is no longer PASSED.
  const ProcessResult dissent = faulty("fingerprint", {"--summary"});
  EXPECT_EQ(dissent.status, 3) << dissent.err;
  EXPECT_NE(dissent.out.find("result: FAILED (copies disagree: CPU "), std::string::npos)
      << dissent.out;
  const ProcessResult md = faulty("die", {"--format", "md"});
  EXPECT_NE(md.out.find("| 1 of 2 finished; died: CPU "), std::string::npos) << md.out;
}

TEST(Copies, RefusedBeforeAnythingRunsAndStoppedBySignals) {
  for (const auto& [arguments, status, said] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
           {{"--copies", "1000"}, 64, "--copies 1000: this process may use only"},
           {{"--copies", "all", "--affinity", "0"}, 64, "excludes"},
           {{"--copies", "cores", "--check-reference"}, 64, "excludes"},
           {{"--copies", "some"}, 64, "expected a count"},
           {{"--copies", "all", "--n", "300000"}, 1, "copies needs"},
       }) {
    const ProcessResult r = runProcess(LUBENCH_REPORT_EXECUTABLE, arguments);
    EXPECT_EQ(r.status, status) << said << "\n" << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << "nothing ran";
  }
  ProcessSetup setup;
  setup.signal = SIGTERM;
  setup.signalAfterMilliseconds = 1500;
  const ProcessResult stopped = runProcess(
      LUBENCH_REPORT_EXECUTABLE,
      {"--n", "700", "--repeat", "1000", "--seed", "4", "--no-peak", "--copies", "all", "--json"},
      setup);
  EXPECT_EQ(stopped.status, 128 + SIGTERM) << stopped.err;
  EXPECT_EQ(parsed(stopped.out)["interrupted_by"], "SIGTERM");
}

TEST(Copies, EndingsAndHangupsHoldWhateverTheParentLeftIgnored) {
  if (allowedCpuCount() < 2) GTEST_SKIP() << "needs two CPUs for a second copy";
  const std::vector<std::string> arguments{"--n", "64", "--repeat", "2", "--seed", "4",
                                           "--no-peak", "--copies", "all", "--json"};
  // Started with SIGCHLD ignored: a killed copy is still seen killed.
  {
    ProcessSetup setup;
    setup.environment = {"LUBENCH_TEST_COPY_FAULT=die"};
    setup.ignoredSignals = {SIGCHLD};
    const ProcessResult r = runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE, arguments, setup);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("killed by SIGKILL"), std::string::npos) << r.err;
    EXPECT_EQ(parsed(r.out)["benchmarks"][0]["copies"]["per_copy"][1]["signal"], "SIGKILL");
  }
  // Every copy is sent SIGHUP: under nohup each goes on as the report does; without, each ends.
  ProcessSetup hangup;
  hangup.environment = {"LUBENCH_TEST_COPY_FAULT=hangup"};
  {
    ProcessSetup nohup = hangup;
    nohup.ignoredSignals = {SIGHUP};
    const ProcessResult r = runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE, arguments, nohup);
    EXPECT_EQ(r.status, 0) << r.err;
    const json document = parsed(r.out);
    for (const json& copy : document["benchmarks"][0]["copies"]["per_copy"]) {
      EXPECT_TRUE(copy["finished"].get<bool>()) << copy;
    }
  }
  const ProcessResult r = runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE, arguments, hangup);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("killed by SIGHUP"), std::string::npos) << r.err;
}

TEST(Copies, ARateOutsideItsBandIsTheLastOfTheStatuses) {
  if (allowedCpuCount() < 2) GTEST_SKIP() << "needs two CPUs for a second copy";
  ScratchDirectory dir("copies-expect");
  const auto run = [&](const std::string& fault, const std::string& bands) {
    ProcessSetup setup;
    setup.environment = {"LUBENCH_TEST_COPY_FAULT=" + fault};
    return runProcess(LUBENCH_FAULTY_COPIES_EXECUTABLE,
                      {"--n", "64", "--seed", "4", "--no-peak", "--copies", "2", "--json",
                       "--expect", bands},
                      setup);
  };
  const auto bandsFor = [&](const json& model, const json& path) {
    const json entry{{"cpu_model", model}, {"vector_path", path}, {"n", 64}, {"block", 32},
                     {"gflops", 1e6}, {"lower", 1e6}, {"upper", 2e6}};
    return dir.write("bands.json",
                     json{{"document_kind", "expectations"}, {"expectations", {entry}}}.dump());
  };
  // What this machine is, from a run without a band for it.
  const ProcessResult first = run("", bandsFor("no such CPU", "avx2"));
  ASSERT_EQ(first.status, 0) << first.err;
  const json document = parsed(first.out);
  const json model = document["context"]["cpu_model"];
  if (!model.is_string()) GTEST_SKIP() << "this machine does not name its CPU model";
  const std::string impossible = bandsFor(model, document["benchmarks"][0]["vector_path"]);
  EXPECT_EQ(run("", impossible).status, 4);
  // A dissenting copy (3) and a dead one (1) come before the band.
  const ProcessResult dissent = run("fingerprint", impossible);
  EXPECT_EQ(dissent.status, 3) << dissent.err;
  EXPECT_NE(dissent.err.find("OUTSIDE BAND: n 64, block 32"), std::string::npos) << dissent.err;
  EXPECT_EQ(run("die", impossible).status, 1);
}

}  // namespace
