#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "process_runner.hpp"

namespace {

ProcessResult runReportTool(const std::vector<std::string>& arguments,
                            const ProcessSetup& setup = {}) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, setup);
}

nlohmann::json parsedOutput(const ProcessResult& run) {
  return nlohmann::json::parse(run.out, nullptr, false);
}

// The first benchmark of the JSON document on standard output; null when there is none.
nlohmann::json firstBenchmark(const ProcessResult& run) {
  const nlohmann::json document = parsedOutput(run);
  if (!document.is_object() || !document.contains("benchmarks") || document["benchmarks"].empty()) {
    return nullptr;
  }
  return document["benchmarks"][0];
}

TEST(ReportTool, BadOptionsAreUsageErrors) {
  const std::vector<std::vector<std::string>> badOptions = {
      {"--n", "abc"},      {"--n", "0"},      {"--n", "-5"},       {"--block", "0"},
      {"--block", "x7"},   {"--repeat", "0"}, {"--seed", "-1"},    {"--unknown"},
      {"--n", "12", "13"}, {"--json=yes"},    {"--summary=false"}, {"--peak", "--no-peak"}};
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
  // The peak is on by default: no option may be shown with a misleading value.
  EXPECT_EQ(run.out.find("{false}"), std::string::npos) << run.out;
  // The peak is the core's chains of separate multiplies and adds, not the tile kernel's rate.
  EXPECT_NE(run.out.find("peak for separate multiplies and adds"), std::string::npos) << run.out;
  // Every subcommand is found from the main help, each on a line of its own.
  for (const char* subcommand : {"compare", "ab", "export", "fleet"}) {
    EXPECT_NE(run.out.find("\n  " + std::string(subcommand) + " "), std::string::npos)
        << subcommand << "\n" << run.out;
  }
  EXPECT_NE(run.out.find("--version"), std::string::npos);
}

TEST(ReportTool, VersionSaysWhatTheBuildIsAndRunsNothing) {
  const ProcessResult run = runReportTool({"--version", "--n", "64", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out.starts_with("lubench-report ")) << run.out;
  EXPECT_NE(run.out.find("\ncommit: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\ncompiler: "), std::string::npos) << run.out;
  // Every build holds the portable path, whose kernel runs everywhere.
  EXPECT_NE(run.out.find("\n  portable: bands_6_5x2v1\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("timed region"), std::string::npos) << "nothing may run: " << run.out;
  // A version asked for with a bad option is still a usage error.
  EXPECT_EQ(runReportTool({"--version", "--n", "0"}).status, 64);
}

TEST(ReportTool, AnOrderTooLargeForTheMemoryIsRefusedBeforeAllocating) {
  // 2e9^2 doubles do not even fit a size_t; 1e5^2 do, and would be granted by an overcommitting
  // kernel, which then kills the process as it writes them.
  for (const char* n : {"2000000000", "100000"}) {
    const ProcessResult run = runReportTool({"--n", n, "--seed", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("lubench-report: --n " + std::string(n) + " needs "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("of memory, more than the"), std::string::npos) << run.err;
  }
  const ProcessResult withReference = runReportTool({"--n", "100000", "--check-reference"});
  EXPECT_NE(withReference.err.find("--n 100000 with --check-reference needs 400.0 GB"),
            std::string::npos)
      << withReference.err;
}

TEST(ReportTool, MemoryFailuresAreReportedBeforeAnyRun) {
#ifdef LUBENCH_SANITIZED
  GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
  // Room for the three matrices of n = 5120 (600 MiB) but not for the two reference ones too
  // (400 MiB more): the failure comes before the runs, not after them, and before the
  // comparison's note.
  const ProcessResult reference = runReportTool({"--n", "5120", "--seed", "1", "--check-reference"},
                                                {.addressSpaceLimit = 800u << 20});
  EXPECT_EQ(reference.status, 1);
  EXPECT_EQ(reference.out, "");
  EXPECT_NE(reference.err.find("lubench-report: cannot allocate the reference"), std::string::npos)
      << reference.err;
  EXPECT_EQ(reference.err.find("comparing with the plain scalar rendering"), std::string::npos)
      << reference.err;

  // The records of a million runs (over 100 MiB) do not fit in 120 MiB beside the program
  // itself: a clear line, not an abort.
  const ProcessResult records = runReportTool({"--n", "1", "--repeat", "1000000", "--json"},
                                              {.addressSpaceLimit = 120u << 20});
  EXPECT_EQ(records.status, 1);
  EXPECT_EQ(records.out, "");
  EXPECT_NE(records.err.find("lubench-report: cannot allocate the records of 1000000 runs"),
            std::string::npos)
      << records.err;

  // A stack too small for the factorisation's buffers: one line, not a signal.
  const ProcessResult stack = runReportTool({"--n", "1"}, {.stackLimit = 256u << 10});
  EXPECT_EQ(stack.status, 1);
  EXPECT_EQ(stack.out, "");
  EXPECT_NE(stack.err.find("lubench-report: the stack limit is 256 KiB"), std::string::npos)
      << stack.err;
}

TEST(ReportTool, NumbersWithLeadingZerosAreDecimal) {
  const ProcessResult run = runReportTool(
      {"--n", "064", "--block", "0032", "--seed", "010", "--repeat", "010", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = firstBenchmark(run);
  ASSERT_TRUE(report.is_object()) << run.out;
  EXPECT_EQ(report["n"], 64);
  EXPECT_EQ(report["block"], 32);
  EXPECT_EQ(report["seed"], 10);
  EXPECT_EQ(report["repeat"], 10);
  EXPECT_EQ(report["runs"].size(), 10u);
  // Digits an octal reading would refuse.
  EXPECT_EQ(firstBenchmark(runReportTool({"--n", "08", "--seed", "1", "--json"}))["n"], 8);
  for (const char* bad : {"0x10", "+5", " 5", "5 "}) {
    EXPECT_EQ(runReportTool({"--n", bad}).status, 64) << bad;
  }
}

TEST(ReportTool, JsonStaysValidWithStandardErrorClosed) {
  const ProcessResult run = runReportTool(
      {"--n", "16", "--seed", "1", "--json", "--check-reference"}, {.err = Stderr::kClosed});
  EXPECT_EQ(run.status, 0);
  const nlohmann::json report = firstBenchmark(run);
  ASSERT_TRUE(report.is_object()) << run.out;
  EXPECT_EQ(report["reference_check"], "identical");
}

TEST(ReportTool, ProgressIsShownOnATerminalOnlyAndErasedAfterwards) {
  const std::vector<std::string> arguments = {"--n", "600", "--repeat", "2", "--seed", "1"};
  for (const char* term : {"xterm", "dumb"}) {
    const ProcessResult terminal = runReportTool(
        arguments, {.err = Stderr::kTerminal, .environment = {std::string("TERM=") + term}});
    EXPECT_EQ(terminal.status, 0);
    EXPECT_NE(terminal.err.find("lubench-report: [1/1] n 600, b 32: warm-up run"),
              std::string::npos)
        << terminal.err;
    // The last progress line is erased (blanked where the terminal cannot erase) before
    // anything else is written.
    const std::string& err = terminal.err;
    const std::size_t last = err.rfind("lubench-report: [1/1]");
    ASSERT_NE(last, std::string::npos);
    const std::size_t erasure = err.find('\r', last);
    ASSERT_NE(erasure, std::string::npos) << err;
    const std::size_t after = err.find_first_not_of(" \r\033[K", erasure);
    EXPECT_GT(after, erasure + 1) << term;
    EXPECT_EQ(after == std::string::npos ? "" : err.substr(after, 16),
              after == std::string::npos ? "" : "lubench-report: ")
        << term;
    EXPECT_EQ(terminal.err.find('\033') == std::string::npos, std::string(term) == "dumb") << term;
    EXPECT_NE(terminal.out.find("result: PASSED"), std::string::npos);
  }

  // Not a terminal, or JSON: no progress line.
  EXPECT_EQ(runReportTool(arguments).err.find("lubench-report: ["), std::string::npos);
  std::vector<std::string> json = arguments;
  json.push_back("--json");
  const ProcessResult jsonOnTerminal = runReportTool(json, {.err = Stderr::kTerminal});
  EXPECT_EQ(jsonOnTerminal.err.find("block"), std::string::npos) << jsonOnTerminal.err;
  EXPECT_FALSE(parsedOutput(jsonOnTerminal).is_discarded());
}

TEST(ReportTool, TableReportsAPassedRun) {
  const ProcessResult run = runReportTool({"--n", "100", "--block", "7", "--seed", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* fact : {"n 100, block 7:", "seed 3;", "vector path:", "compiler:", "GFLOP/s",
                           "trailing sweep", "solves", "PASSED", "result: PASSED"})
    EXPECT_NE(run.out.find(fact), std::string::npos) << fact << " in\n" << run.out;
}

TEST(ReportTool, JsonIsTheOnlyOutputAndParses) {
  const ProcessResult run = runReportTool({"--n", "64", "--block", "16", "--seed", "9", "--repeat",
                                           "2", "--json", "--check-reference"});
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = firstBenchmark(run);
  ASSERT_TRUE(report.is_object()) << run.out;
  EXPECT_EQ(report["n"], 64);
  EXPECT_EQ(report["runs"].size(), 2u);
  EXPECT_EQ(report["reference_check"], "identical");
  EXPECT_EQ(report["passed"], true);
  // Both rates of the core, measured by default.
  EXPECT_GT(report["peak_gflops"].get<double>(), 0.0);
  EXPECT_GT(report["fused_peak_gflops"].get<double>(), 0.0);
}

TEST(ReportTool, ALostReportIsAFailureWithItsReason) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--n", "32", "--seed", "1"}, {"--help"}}) {
    const ProcessResult run = runReportTool(arguments, {.out = Stdout::kFullDevice});
    EXPECT_EQ(run.status, 1) << arguments.front();
    EXPECT_NE(run.err.find("lubench-report: cannot write the result to standard output: No space "
                           "left on device"),
              std::string::npos)
        << run.err;
  }
}

}  // namespace

namespace {

TEST(ReportTool, BadListsAreUsageErrors) {
  const std::vector<std::vector<std::string>> badLists = {
      {"--n", "64,,96"},   {"--n", ",64"},     {"--n", "64,"},    {"--n", "64,64"},
      {"--block", "16,x"}, {"--block", "8,0"}, {"--n", "64, 96"}, {"--n", "064,64"}};
  for (const std::vector<std::string>& arguments : badLists) {
    const ProcessResult run = runReportTool(arguments);
    EXPECT_EQ(run.status, 64) << arguments[1];
    EXPECT_EQ(run.out, "") << arguments[1];
    EXPECT_TRUE(run.err.starts_with("lubench-report: ")) << arguments[1] << ": " << run.err;
  }
  EXPECT_NE(runReportTool({"--n", "64,,96"}).err.find("empty item"), std::string::npos);
  EXPECT_NE(runReportTool({"--n", "64,064"}).err.find("appears twice"), std::string::npos);
}

TEST(ReportTool, ASweepRunsEveryCombinationAsASingleRunWould) {
  const ProcessResult sweep = runReportTool(
      {"--n", "64,97", "--block", "32,16", "--seed", "5", "--repeat", "2", "--json", "--no-peak"});
  EXPECT_EQ(sweep.status, 0) << sweep.err;
  const nlohmann::json reports = parsedOutput(sweep)["benchmarks"];
  ASSERT_TRUE(reports.is_array()) << sweep.out;
  ASSERT_EQ(reports.size(), 4u);
  const std::vector<std::pair<int, int>> expected = {{64, 32}, {64, 16}, {97, 32}, {97, 16}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto [n, block] = expected[i];
    EXPECT_EQ(reports[i]["n"], n);
    EXPECT_EQ(reports[i]["block"], block);
    EXPECT_EQ(reports[i]["runs"].size(), 2u);
    EXPECT_EQ(reports[i]["peak_gflops"], nullptr);
    EXPECT_EQ(reports[i]["fused_peak_gflops"], nullptr);
    const nlohmann::json single =
        firstBenchmark(runReportTool({"--n", std::to_string(n), "--block", std::to_string(block),
                                      "--seed", "5", "--json", "--no-peak"}));
    ASSERT_TRUE(single.is_object());
    EXPECT_EQ(reports[i]["fingerprint"], single["fingerprint"]) << n << " " << block;
  }

  // The table: one summary row per combination, the peak, then each combination's details.
  const ProcessResult table =
      runReportTool({"--n", "64,97", "--block", "16", "--seed", "5", "--summary"});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("peak: "), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("fused multiply-add: "), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("efficiency"), std::string::npos);
  EXPECT_NE(table.out.find("r < 16  reference"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find(reports[1]["fingerprint"].get<std::string>()), std::string::npos);
  EXPECT_NE(table.out.find(reports[3]["fingerprint"].get<std::string>()), std::string::npos);
  EXPECT_EQ(table.out.find("step "), std::string::npos) << "--summary leaves out the details";
}

TEST(ReportTool, ComparesWithLapackWhereTheBuildHasIt) {
  const ProcessResult run =
      runReportTool({"--n", "100", "--seed", "3", "--repeat", "2", "--compare-lapack", "--json"});
#ifdef LUBENCH_HAVE_LAPACKE
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = firstBenchmark(run);
  ASSERT_TRUE(report.is_object()) << run.out;
  const nlohmann::json& lapack = report["lapack"];
  EXPECT_FALSE(lapack["library"].get<std::string>().empty());
  EXPECT_GT(lapack["lubench_over_lapack"].get<double>(), 0.0);
  EXPECT_LT(lapack["residual_max"].get<double>(), 16.0);
  for (const nlohmann::json& one : report["runs"]) {
    EXPECT_EQ(one["lapack"]["info"], 0);
    EXPECT_GT(one["lapack"]["timed_ns"].get<long long>(), 0);
  }
  EXPECT_GT(report["peak_gflops"].get<double>(), 0.0);
  EXPECT_GT(report["efficiency"].get<double>(), 0.0);
  const ProcessResult table = runReportTool({"--n", "100", "--seed", "3", "--compare-lapack"});
  EXPECT_NE(table.out.find("lubench time / LAPACK time"), std::string::npos) << table.out;
#else
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("--compare-lapack needs LAPACKE"), std::string::npos) << run.err;
#endif
}

}  // namespace

namespace {

TEST(ReportTool, FinishedCombinationsSurviveALaterFailureOrASignal) {
  // A signal after the first of two combinations has been written: the document is closed with
  // the mark, and the status says which signal.
  const std::vector<std::string> sweep = {"--n",    "64,1500", "--repeat",  "400",
                                          "--seed", "3",       "--no-peak", "--check-reference"};
  std::vector<std::string> json = sweep;
  json.push_back("--json");
  const ProcessResult stopped =
      runReportTool(json, {.signal = SIGTERM, .signalWhen = "\"passed\""});
  EXPECT_EQ(stopped.status, 128 + SIGTERM) << stopped.err;
  const nlohmann::json document = parsedOutput(stopped);
  ASSERT_TRUE(document.is_object()) << stopped.out;
  ASSERT_EQ(document["benchmarks"].size(), 1u) << stopped.out;
  EXPECT_EQ(document["benchmarks"][0]["n"], 64);
  EXPECT_EQ(document["benchmarks"][0]["runs"].size(), 400u);
  EXPECT_EQ(document["interrupted"], true);
  EXPECT_EQ(document["interrupted_by"], "SIGTERM");
  // The comparison's notice is said once for the sweep, not once per combination.
  const std::string notice = "comparing with the plain scalar rendering";
  EXPECT_EQ(stopped.err.find(notice), stopped.err.rfind(notice)) << stopped.err;

  std::vector<std::string> rows = sweep;
  rows.push_back("--summary");
  const ProcessResult table = runReportTool(rows, {.signal = SIGINT, .signalWhen = "PASSED"});
  EXPECT_EQ(table.status, 128 + SIGINT);
  EXPECT_NE(table.out.find("     64 "), std::string::npos) << table.out;
  EXPECT_TRUE(table.out.ends_with("result: INTERRUPTED by SIGINT after 1 of 2 combinations\n"))
      << table.out;

#ifndef LUBENCH_SANITIZED
  // Room for n = 256 but not for n = 8192's matrices under the address-space limit: the first
  // combination is kept, with a warm-up run though each has a single timed run.
  const ProcessResult failed =
      runReportTool({"--n", "256,8192", "--seed", "1", "--no-peak", "--json"},
                    {.addressSpaceLimit = 1000u << 20});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("cannot allocate the"), std::string::npos) << failed.err;
  const nlohmann::json kept = parsedOutput(failed);
  ASSERT_TRUE(kept.is_object()) << failed.out;
  ASSERT_EQ(kept["benchmarks"].size(), 1u);
  EXPECT_EQ(kept["benchmarks"][0]["n"], 256);
  EXPECT_EQ(kept["benchmarks"][0]["warm_up"], true);
  EXPECT_EQ(kept["interrupted_by"], "error");
#endif
}

TEST(ReportTool, EachKernelAskedForRunsAsItsOwnCombinationAndSaysWhatRan) {
  const std::vector<std::string> common = {"--n", "64", "--seed", "2", "--no-peak", "--json"};
  const nlohmann::json automatic = parsedOutput(runReportTool(common));
  ASSERT_TRUE(automatic.is_object());
  const nlohmann::json& context = automatic["context"];
  // The portable path runs on every CPU; its first kernel, forced beside the automatic choice.
  const nlohmann::json& portable = context["vector_paths"].back();
  ASSERT_EQ(portable["runs_here"], true) << context.dump();
  const std::string kernel = portable["kernels"][0];
  std::vector<std::string> both = common;
  both.insert(both.end(), {"--kernel", "auto," + kernel, "--repeat", "2"});
  const ProcessResult run = runReportTool(both);
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json reports = parsedOutput(run)["benchmarks"];
  ASSERT_EQ(reports.size(), 2u) << run.out;
  const std::vector<std::pair<std::string, std::string>> ran = {
      {context["vector_path"], context["kernel"]}, {portable["name"], kernel}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(reports[i]["kernel_option"], i == 0 ? "auto" : kernel);
    EXPECT_EQ(reports[i]["kernel"], ran[i].second);
    ASSERT_EQ(reports[i]["runs"].size(), 2u);
    for (const nlohmann::json& r : reports[i]["runs"]) {
      EXPECT_EQ(r["vector_path"], ran[i].first);
      EXPECT_EQ(r["kernel"], ran[i].second);
    }
    // Every kernel computes the same bytes.
    EXPECT_EQ(reports[i]["fingerprint"], automatic["benchmarks"][0]["fingerprint"]);
  }
  // A name this CPU does not run: the usage status, and the paths and kernels it does run.
  const std::string runnable = std::string(portable["name"]) + " (" + kernel;
  std::vector<std::vector<std::string>> refusals = {{"--kernel", "nonesuch"},
                                                    {"--vector-path", "nonesuch"}};
  // A kernel twice would make one combination twice in the document, which no reader takes.
  const ProcessResult twice = runReportTool({"--kernel", kernel + "," + kernel});
  EXPECT_EQ(twice.status, 64);
  EXPECT_NE(twice.err.find("appears twice"), std::string::npos) << twice.err;
  if (context["kernel"] != kernel) {
    refusals.push_back({"--vector-path", portable["name"], "--kernel", context["kernel"]});
  }
  for (const std::vector<std::string>& arguments : refusals) {
    const ProcessResult refused = runReportTool(arguments);
    EXPECT_EQ(refused.status, 64) << arguments[1];
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(arguments[1] == "nonesuch" ? "'nonesuch'" : "holds no tile kernel"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("this CPU runs "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find(runnable), std::string::npos) << refused.err;
  }
}

}  // namespace

TEST(ReportTool, TheKernelTrialsOfEachRunAreRecordedAndAForcedKernelIsNeverTried) {
  const std::vector<std::string> common = {"--n", "640", "--seed", "3", "--no-peak", "--json"};
  const nlohmann::json automatic = parsedOutput(runReportTool(common));
  ASSERT_TRUE(automatic.is_object());
  const nlohmann::json& context = automatic["context"];
  const nlohmann::json& run = automatic["benchmarks"][0]["runs"][0];
  nlohmann::json held;
  int blocksPerSweep = 0;
  for (const nlohmann::json& path : context["vector_paths"]) {
    if (path["name"] != context["vector_path"]) continue;
    held = path["kernels"];
    blocksPerSweep = path["blocks_per_sweep"].get<int>();
  }
  ASSERT_TRUE(held.is_array()) << context.dump();
  if (held.size() < 2 || !context["fixed_kernel"].is_null()) {
    EXPECT_NE(run["kernel_choice"], "trial");
    EXPECT_TRUE(run["kernel_trials"].empty());
  } else {
    // Order 640: the first group's sweep is tried (576 with pairs of blocks, 512 with groups of
    // four), and again once the region has shrunk to two thirds of it (384 with pairs).
    EXPECT_EQ(run["kernel_choice"], "trial");
    const nlohmann::json& trials = run["kernel_trials"];
    ASSERT_EQ(trials.size(), blocksPerSweep == 2 ? 2u : 1u) << run.dump();
    EXPECT_EQ(trials[0]["order"], 640 - 32 * blocksPerSweep);
    EXPECT_EQ(trials[0]["depth"], 32 * blocksPerSweep);
    EXPECT_EQ(trials[0]["candidates"].size(), held.size());
    EXPECT_EQ(run["kernel"], trials[trials.size() - 1]["chosen"]);
    const nlohmann::json& summary = automatic["benchmarks"][0]["kernel_trials"];
    ASSERT_EQ(summary.size(), trials.size());
    EXPECT_EQ(summary[summary.size() - 1]["order"], trials[trials.size() - 1]["order"]);
    EXPECT_EQ(summary[summary.size() - 1]["runs"], 1);
  }
  std::vector<std::string> forcedArguments = common;
  forcedArguments.insert(forcedArguments.end(), {"--kernel", held.back()});
  const nlohmann::json forced = parsedOutput(runReportTool(forcedArguments));
  ASSERT_TRUE(forced.is_object());
  const nlohmann::json& forcedRun = forced["benchmarks"][0]["runs"][0];
  EXPECT_EQ(forcedRun["kernel_choice"], "forced");
  EXPECT_TRUE(forcedRun["kernel_trials"].empty());
  EXPECT_EQ(forced["benchmarks"][0]["fingerprint"], automatic["benchmarks"][0]["fingerprint"]);
}
