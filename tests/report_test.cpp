#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "block_loop.hpp"
#include "clock.hpp"
#include "memory_budget.hpp"
#include "command_line.hpp"
#include "progress.hpp"
#include "reference.hpp"
#include "reporter.hpp"
#include "runner.hpp"
#include "statistics.hpp"
#include "verification.hpp"
#include "workspace.hpp"

// lubench-report's layers without its command line: statistics and reporters on hand-built
// records, the runner on small orders, the progress line, the memory budget on fixture trees.

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

RunRecord handBuiltRun(long long nanoseconds, double residual, unsigned long long fingerprint) {
  RunRecord run;
  run.timedNanoseconds = nanoseconds;
  run.gflops = 1e3 / static_cast<double>(nanoseconds);
  run.residual = residual;
  run.fingerprint = fingerprint;
  for (int step = 0; step < kLuStepCount; ++step) run.stepNanoseconds[step] = nanoseconds / 10;
  run.solveNanoseconds = nanoseconds / 5;
  return run;
}

CombinationRecord handBuiltCombination(std::vector<RunRecord> runs) {
  CombinationRecord record;
  record.options.n = 100;
  record.options.block = 7;
  record.options.seed = 5;
  record.options.seedGiven = true;
  record.options.repeat = static_cast<int>(runs.size());
  record.runs = std::move(runs);
  return record;
}

TEST(ReportStatistics, SpreadsSharesAndVerdictsOfHandBuiltRecords) {
  EXPECT_EQ(spreadOf({5, 1, 3}).median, 3);
  EXPECT_EQ(spreadOf({4, 1, 3, 2}).median, 2.5);
  EXPECT_EQ(spreadOf({7}).max, 7);
  // A NaN residual is never hidden behind a finite maximum.
  EXPECT_TRUE(std::isnan(spreadOf({1, kNaN, 3}).max));
  EXPECT_EQ(spreadOf({1, kNaN, 3}).median, 2);

  const CombinationRecord good = handBuiltCombination(
      {handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.7, 7), handBuiltRun(200, 0.6, 7)});
  const Summary summary = summarize(good, PeakMeasurement{20.0, 18.0, 3, 0.1, 25.0});
  EXPECT_EQ(summary.timed.spread.median, 200);
  EXPECT_EQ(summary.residual.max, 0.7);
  EXPECT_DOUBLE_EQ(summary.shareOfMedian[0], 0.1);
  EXPECT_DOUBLE_EQ(summary.shareOfMedian[kLuStepCount], 0.2);
  ASSERT_TRUE(summary.efficiency.has_value());
  EXPECT_DOUBLE_EQ(*summary.efficiency, summary.gflops.median / 20.0);
  EXPECT_TRUE(summary.passed);
  EXPECT_FALSE(summarize(good, std::nullopt).efficiency.has_value());

  // Each failed check fails the combination on its own.
  CombinationRecord large = good, notFinite = good, differs = good, disagree = good;
  large.runs[1].residual = 1e9;
  notFinite.runs[2].residual = kNaN;
  differs.reference = ReferenceCheck::kDiffers;
  disagree.runs[0].fingerprint = 8;
  for (const CombinationRecord* bad : {&large, &notFinite, &differs, &disagree}) {
    EXPECT_FALSE(summarize(*bad, std::nullopt).passed);
  }
  EXPECT_FALSE(summarize(disagree, std::nullopt).fingerprintsAgree);

  CombinationRecord withLapack = good;
  withLapack.options.compareLapack = true;
  for (RunRecord& run : withLapack.runs) run.lapack = LapackRecord{400, 2.5, 0.3, 0};
  ASSERT_TRUE(summarize(withLapack, std::nullopt).lapack.has_value());
  EXPECT_DOUBLE_EQ(summarize(withLapack, std::nullopt).lapack->lubenchOverLapack, 0.5);
}

SweepContext contextOf(std::vector<int> orders) {
  SweepContext context;
  context.options.orders = std::move(orders);
  context.options.blocks = {7};
  context.options.base.seed = 5;
  context.options.base.seedGiven = true;
  context.combinations = static_cast<int>(context.options.orders.size());
  return context;
}

// The whole document a reporter writes for the records, ending as end says.
std::string document(Reporter& reporter, const SweepContext& context,
                     const std::vector<CombinationRecord>& records, SweepEnd end) {
  return formatted([&](const TextSink& sink) {
    reporter.context(context, sink);
    for (const CombinationRecord& record : records) {
      reporter.combination(record, summarize(record, context.peak), sink);
    }
    reporter.end(end, sink);
  });
}

TEST(ReportReporters, BothViewsOfHandBuiltRecordsAndOfASweepCutShort) {
  const CombinationRecord good =
      handBuiltCombination({handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.7, 7)});
  CombinationRecord bad = good;
  bad.options.n = 120;
  bad.reference = ReferenceCheck::kDiffers;
  const SweepEnd complete{SweepEnd::Kind::kComplete, 0, 1, 1, true};

  // The context, then one object per combination with every run in it and the verdict from the
  // statistics.
  auto json = makeJsonReporter();
  const nlohmann::json whole =
      nlohmann::json::parse(document(*json, contextOf({100}), {good}, complete));
  EXPECT_EQ(whole["context"]["json_schema_version"], 2);
  EXPECT_FALSE(whole["context"].contains("seed")) << "options are the benchmarks' facts";
  EXPECT_EQ(whole["interrupted"], false);
  const nlohmann::json& single = whole["benchmarks"][0];
  EXPECT_EQ(single["n"], 100);
  EXPECT_EQ(single["runs"].size(), 2u);
  EXPECT_EQ(single["runs"][1]["timed_ns"], 300);
  EXPECT_EQ(single["timed_ns"]["median"], 200);
  EXPECT_EQ(single["steps_ns"].size(), static_cast<std::size_t>(kLuStepCount) + 1);
  EXPECT_EQ(single["fingerprint"], formatFingerprint(7));
  EXPECT_EQ(single["reference_check"], nullptr);
  EXPECT_EQ(single["passed"], true);

  // Cut short by a signal after the first combination or before any: the document stays valid
  // and says why it ended.
  const SweepEnd interrupted{SweepEnd::Kind::kInterrupted, 15, 1, 2, false};
  json = makeJsonReporter();
  const nlohmann::json cut =
      nlohmann::json::parse(document(*json, contextOf({100, 120}), {good}, interrupted));
  ASSERT_EQ(cut["benchmarks"].size(), 1u);
  EXPECT_EQ(cut["benchmarks"][0]["n"], 100);
  EXPECT_EQ(cut["interrupted"], true);
  EXPECT_EQ(cut["interrupted_by"], "SIGTERM");
  json = makeJsonReporter();
  const nlohmann::json none = nlohmann::json::parse(document(
      *json, contextOf({100, 120}), {}, SweepEnd{SweepEnd::Kind::kFailed, 0, 0, 2, false}));
  EXPECT_TRUE(none["benchmarks"].empty());
  EXPECT_EQ(none["interrupted_by"], "error");

  // The summary rows show the residual check and the reference check apart.
  auto table = makeTableReporter(true);
  const std::string rows = document(*table, contextOf({100, 120}), {good, bad},
                                    SweepEnd{SweepEnd::Kind::kComplete, 0, 2, 2, false});
  const std::size_t badRow = rows.find("\n    120 ");
  ASSERT_NE(badRow, std::string::npos) << rows;
  const std::string badLine = rows.substr(badRow + 1, rows.find('\n', badRow + 1) - badRow - 1);
  EXPECT_NE(badLine.find("PASSED"), std::string::npos) << badLine;
  EXPECT_NE(badLine.find("differs"), std::string::npos) << badLine;
  EXPECT_TRUE(rows.ends_with("result: FAILED\n")) << rows;

  // The full table: each combination's details, then the summary rows; a signal says so last.
  table = makeTableReporter(false);
  const std::string full = document(*table, contextOf({100, 120}), {good}, interrupted);
  EXPECT_NE(full.find("n 100, block 7: 2 timed runs"), std::string::npos) << full;
  EXPECT_NE(full.find("trailing sweep"), std::string::npos);
  EXPECT_NE(full.find("interval of the median: too few runs"), std::string::npos) << full;
  EXPECT_LT(full.find("result: PASSED"), full.find("\nsummary\n"));
  EXPECT_TRUE(full.ends_with("result: INTERRUPTED by SIGTERM after 1 of 2 combinations\n")) << full;
}

TEST(ReportRunner, RunsMatchTheScalarRenderingAndProgressStaysOutOfTimedRegions) {
  RunOptions options;
  options.n = 97;
  options.block = 7;
  options.seed = 5;
  options.repeat = 3;
  options.warmUp = true;
  options.checkReference = true;
  std::vector<bool> calls;
  std::vector<long long> callTimes;
  CombinationHooks hooks;
  hooks.runFinished = [&](bool timed) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    calls.push_back(timed);
    callTimes.push_back(elapsedNanoseconds(timespec{}, now));
  };
  const std::optional<CombinationRecord> record = runCombination(options, hooks);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(calls, (std::vector<bool>{false, true, true, true}));
  ASSERT_EQ(record->runs.size(), 3u);
  EXPECT_EQ(record->reference, ReferenceCheck::kIdentical);
  std::vector<double> a = randomMatrix(options.n, options.seed), s(a.size(), 0.0);
  std::vector<int> perm = identityPermutation(options.n);
  reference::blockedLu(a.data(), perm.data(), s.data(), options.n, options.block);
  for (const RunRecord& run : record->runs) {
    EXPECT_EQ(run.fingerprint, fingerprint(a.data(), perm.data(), options.n));
    long long steps = run.solveNanoseconds;
    for (long long step : run.stepNanoseconds) steps += step;
    EXPECT_LE(steps, run.timedNanoseconds);
    // Whoever is told of the runs' progress is told between timed regions, never inside one.
    for (long long t : callTimes) {
      EXPECT_FALSE(t >= run.startNanoseconds && t <= run.startNanoseconds + run.timedNanoseconds);
    }
  }
}

// Everything the display wrote, split at carriage returns.
std::vector<std::string> progressLines(bool canErase, const RunOptions& options) {
  std::FILE* out = std::tmpfile();
  {
    ProgressDisplay display(out, true, canErase);
    timespec now{100, 0};
    display.startCombination(options, 0, 2, now);
    for (int run = 0; run <= options.repeat; ++run) {
      now.tv_sec += 1;
      display.runFinished(!(options.warmUp && run == 0), now);
    }
  }
  std::rewind(out);
  std::string text;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
  std::fclose(out);
  std::vector<std::string> lines;
  for (std::size_t start = 0, cr = 0; cr != std::string::npos; start = cr + 1) {
    cr = text.find('\r', start);
    lines.push_back(text.substr(start, cr == std::string::npos ? cr : cr - start));
  }
  return lines;
}

TEST(ProgressDisplay, FitsALineCountsTimedRunsOnlyAndIsErasedAtTheEnd) {
  RunOptions options;
  options.n = 600;
  options.block = 32;
  options.repeat = 3;
  options.warmUp = true;
  const std::vector<std::string> lines = progressLines(true, options);
  std::string all;
  for (const std::string& line : lines) all += line + "|";
  EXPECT_NE(all.find("warm-up run"), std::string::npos) << all;
  EXPECT_NE(all.find("run 3 of 3"), std::string::npos) << all;
  EXPECT_EQ(all.find("run 4 of"), std::string::npos) << all;
  EXPECT_TRUE(all.ends_with("\033[K|")) << all;

  // Without the erase sequence, and at the largest numbers: still one line of at most 79
  // characters, and the last one blanked.
  options.n = std::numeric_limits<int>::max();
  options.block = std::numeric_limits<int>::max();
  options.repeat = 1000;
  const std::vector<std::string> plain = progressLines(false, options);
  for (const std::string& line : plain) {
    EXPECT_LE(line.size(), static_cast<std::size_t>(kProgressWidth)) << line;
    EXPECT_EQ(line.find('\033'), std::string::npos);
  }
  ASSERT_GE(plain.size(), 2u);
  EXPECT_EQ(plain[plain.size() - 2].find_first_not_of(' '), std::string::npos);
  EXPECT_FALSE(ProgressDisplay::termCanErase("dumb"));
  EXPECT_FALSE(ProgressDisplay::termCanErase(nullptr));
  EXPECT_TRUE(ProgressDisplay::termCanErase("xterm-256color"));
}

// Writes text to root/path, creating the directories.
void fixture(const std::filesystem::path& root, const std::string& path, const std::string& text) {
  const std::filesystem::path file = root / path;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

TEST(MemoryBudget, TheTightestOfMeminfoAndTheControlGroupsLimits) {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("lubench-budget-" + std::to_string(getpid()));
  const std::string meminfo = "MemTotal: 8000000 kB\nMemAvailable: 4000000 kB\n";
  const double available = 4000000.0 * 1024;

  // v2: the process's group allows 1 GB with 0.25 GB used, its parent 0.5 GB with 0.375 GB used.
  fixture(base / "v2", "proc/meminfo", meminfo);
  fixture(base / "v2", "proc/self/cgroup", "0::/job/step\n");
  fixture(base / "v2", "sys/fs/cgroup/job/step/memory.max", "1000000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/step/memory.current", "250000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/memory.max", "500000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/memory.current", "375000000\n");
  const std::optional<MemoryBudget> v2 = availableMemory((base / "v2").string());
  ASSERT_TRUE(v2.has_value());
  EXPECT_EQ(v2->bytes, 125000000.0);

  // v1 beside a hybrid v2 mount whose group has no limit ("max").
  fixture(base / "v1", "proc/meminfo", meminfo);
  fixture(base / "v1", "proc/self/cgroup", "9:pids:/\n4:memory:/box\n0::/\n");
  fixture(base / "v1", "sys/fs/cgroup/memory/box/memory.limit_in_bytes", "2000000000\n");
  fixture(base / "v1", "sys/fs/cgroup/memory/box/memory.usage_in_bytes", "500000000\n");
  fixture(base / "v1", "sys/fs/cgroup/unified/memory.max", "max\n");
  EXPECT_EQ(availableMemory((base / "v1").string())->bytes, 1500000000.0);

  // v1's "no limit" (a page-rounded 2^63 - 1) leaves MemAvailable.
  fixture(base / "open", "proc/meminfo", meminfo);
  fixture(base / "open", "proc/self/cgroup", "4:memory:/\n");
  fixture(base / "open", "sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  EXPECT_EQ(availableMemory((base / "open").string())->bytes, available);
  EXPECT_FALSE(availableMemory((base / "nothing").string()).has_value());

  // A sweep is checked as a whole before anything runs.
  RunOptions small;
  small.n = 1000;
  RunOptions large = small;
  large.n = 3000;  // three matrices of 72 MB: more than the v2 group's 125 MB
  EXPECT_TRUE(sweepFitsInMemory({small}, (base / "v2").string()));
  EXPECT_FALSE(sweepFitsInMemory({small, large}, (base / "v2").string()));
  std::filesystem::remove_all(base);
}

TEST(ReportOptions, WholeNumbersListsAndWarmUps) {
  EXPECT_EQ(parseWholeNumber("0064", 1, 100), 64);
  for (const char* bad : {"", "+5", "-5", " 5", "5 ", "0x10", "101", "99999999999999999999"}) {
    EXPECT_FALSE(parseWholeNumber(bad, 1, 100).has_value()) << bad;
  }
  EXPECT_EQ(parseList("1024,2048,4096", 5000).values, (std::vector<int>{1024, 2048, 4096}));
  EXPECT_EQ(parseList("010,9", 10).values, (std::vector<int>{10, 9}));
  for (const char* bad : {"", ",", "1,,2", "1,2,", "1,1", "0", "11", "1,-2", "1;2", "2,02"}) {
    EXPECT_FALSE(parseList(bad, 10).error.empty()) << bad;
  }
  // A single run of a single combination is the only one without a warm-up.
  SweepOptions sweep;
  sweep.orders = {64};
  EXPECT_FALSE(sweep.combinations().front().warmUp);
  sweep.orders = {64, 96};
  for (const RunOptions& o : sweep.combinations()) EXPECT_TRUE(o.warmUp);
  sweep.orders = {64};
  sweep.base.repeat = 2;
  EXPECT_TRUE(sweep.combinations().front().warmUp);
}

}  // namespace
