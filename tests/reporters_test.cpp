#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "document.hpp"
#include "hand_built_records.hpp"
#include "output_target.hpp"
#include "reporter.hpp"
#include "statistics.hpp"
#include "text_format.hpp"
#include "verification.hpp"

// The summary of hand-built records, and the table and JSON views of it and of a sweep cut
// short.

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// The rows' spread columns come after every earlier column, from the statistics the JSON
// document shows, and the efficiency's basis is named in both.
TEST(ReportReporters, RowsCarryTheSpreadAndTheEfficiencyBasisAfterTheOlderColumns) {
  std::vector<RunRecord> runs;
  // Nine runs: the median's interval is the second and the eighth, inside min and max.
  for (long long ns : {500, 100, 1250, 200, 250, 400, 625, 800, 1000}) {
    runs.push_back(handBuiltRun(ns, 0.5, 7));
  }
  const CombinationRecord nine = handBuiltCombination(runs);
  const SweepEnd complete{SweepEnd::Kind::kComplete, 0, 1, 1, true};
  auto csv = makeRowReporter(false);
  EXPECT_EQ(document(*csv, contextOf({100}), {nine}, complete),
            "n,block,median_ns,gflops,efficiency,residual,residual_passed,reference,fingerprint,"
            "min_ns,max_ns,median_low_ns,median_high_ns,gflops_min,gflops_max,efficiency_basis\n"
            "100,7,500,2.00,,0.5,1,,0000000000000007,100,1250,200,1000,0.80,10.00,"
            "separate_multiply_add_peak\n");
  // Two runs have no interval: "-" in Markdown, as every missing figure.
  const CombinationRecord two =
      handBuiltCombination({handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.5, 7)});
  auto md = makeRowReporter(true);
  const std::string table = document(*md, contextOf({100}), {two}, complete);
  EXPECT_TRUE(table.ends_with("| 100 | 7 | 200 | 6.67 | - | 0.5 | PASSED | - | 0000000000000007 | "
                              "100 | 300 | - | - | 3.33 | 10.00 | separate_multiply_add_peak |\n"))
      << table;
  EXPECT_TRUE(table.starts_with("| n | block | median (ns) | GFLOP/s | efficiency | residual | "
                                "r < 16 | reference | fingerprint | min (ns) | max (ns) | "
                                "median low (ns) | median high (ns) | GFLOP/s min | "
                                "GFLOP/s max | efficiency basis |\n"))
      << table;

  // The JSON document names the basis beside the efficiency, with a peak and without one.
  SweepContext withPeak = contextOf({100});
  withPeak.peak = PeakMeasurement{20.0, 18.0, 3, 0.1, 25.0};
  for (const SweepContext& context : {withPeak, contextOf({100})}) {
    auto json = makeJsonReporter();
    const nlohmann::json whole =
        nlohmann::json::parse(document(*json, context, {nine}, complete));
    const nlohmann::json& benchmark = whole["benchmarks"][0];
    EXPECT_EQ(benchmark["efficiency_basis"], "separate_multiply_add_peak");
    EXPECT_EQ(benchmark["timed_ns"]["median_ci"]["low"], 200);
    EXPECT_EQ(benchmark["timed_ns"]["median_ci"]["high"], 1000);
  }
}

TEST(ReportReporters, CopiesThatDiedCountInNoFigureAndThoseThatDisagreeFailTheResult) {
  CombinationRecord record =
      handBuiltCombination({handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.7, 7)});
  CopyRecord alive{CpuPlace{0}, record.runs, 0, 0, true};
  const CopyRecord killed{CpuPlace{1}, {}, SIGKILL, 0, false}, silent{CpuPlace{2}, {}, 0, 0, false};
  SweepContext context = contextOf({100});
  context.options.copyPlaces = {CpuPlace{0}, CpuPlace{1}, CpuPlace{2}};
  const SweepEnd complete{SweepEnd::Kind::kComplete, 0, 1, 1, true};
  const auto jsonOf = [&](const CombinationRecord& r) {
    auto reporter = makeJsonReporter();
    return nlohmann::json::parse(document(*reporter, context, {r}, complete))["benchmarks"][0];
  };
  record.copies = {alive, killed, silent};
  const nlohmann::json some = jsonOf(record)["copies"];
  for (const char* key : {"median_timed_ns", "median_gflops", "agrees", "exit_status"}) {
    EXPECT_TRUE(some["per_copy"][1][key].is_null()) << key;
  }
  EXPECT_EQ(some["per_copy"][1]["died"], "killed by SIGKILL");
  EXPECT_EQ(some["per_copy"][2]["died"], "wrote no result");
  EXPECT_EQ(some["per_copy"][0]["died"], nullptr);
  EXPECT_EQ(some["finished_count"], 1);
  EXPECT_EQ(some["total_gflops"], some["per_copy"][0]["median_gflops"]);
  auto rows = makeRowReporter(false);
  EXPECT_NE(document(*rows, context, {record}, complete)
                .find(",1 of 3 finished; died: CPU 1: killed by SIGKILL after 0 timed runs; "
                      "died: CPU 2: wrote no result"),
            std::string::npos);

  // None finished: no figure at all, and the result says why it failed.
  record.copies = {killed};
  const nlohmann::json none = jsonOf(record)["copies"];
  for (const char* key : {"total_gflops", "contention_ratio", "slowest_over_median", "overlap"}) {
    EXPECT_TRUE(none[key].is_null()) << key;
  }
  auto table = makeTableReporter(true);
  const std::string dead = document(*table, context, {record}, complete);
  EXPECT_NE(dead.find("  no copy finished: no total, contention or overlap\n"), std::string::npos)
      << dead;
  EXPECT_EQ(dead.find("0.00 GFLOP/s"), std::string::npos) << dead;
  EXPECT_NE(dead.find("DIED: killed by SIGKILL"), std::string::npos) << dead;
  EXPECT_TRUE(dead.ends_with("result: FAILED (copies died: CPU 1: killed by SIGKILL after 0 "
                             "timed runs)\n"))
      << dead;

  // A copy that gave other bytes fails the combination and the result line says which.
  CopyRecord other = alive;
  other.place.cpu = 1;
  for (RunRecord& run : other.runs) run.fingerprint = 8;
  record.copies = {alive, other};
  EXPECT_FALSE(summarize(record, std::nullopt).passed);
  table = makeTableReporter(true);
  const std::string dissent = document(*table, context, {record}, complete);
  EXPECT_NE(dissent.find("result: FAILED (copies disagree: CPU 1 gave 0000000000000008"),
            std::string::npos)
      << dissent;
  table = makeTableReporter(false);
  EXPECT_NE(document(*table, contextOf({100}), {record}, complete)
                .find("result: FAILED (copies disagree: CPU 1"),
            std::string::npos);
}

TEST(ReportReporters, EveryViewSaysThePathAndKernelThatRanAndWhatTheBuildHolds) {
  // The portable path runs everywhere: its kernel, forced beside the automatic choice.
  const HeldPath& portable = buildInfo().paths.back();
  ASSERT_TRUE(portable.runsHere);
  const std::string forced = portable.kernels.front();
  CombinationRecord automatic =
      handBuiltCombination({handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.7, 7)});
  for (RunRecord& run : automatic.runs) {
    run.vectorPath = buildInfo().vectorPath;
    run.kernel = buildInfo().kernel;
  }
  CombinationRecord chosen = automatic;
  chosen.options.kernel = forced;
  for (RunRecord& run : chosen.runs) {
    run.vectorPath = portable.name;
    run.kernel = forced;
  }
  SweepContext context = contextOf({100});
  context.options.kernels = {"auto", forced};
  context.combinations = 2;
  const SweepEnd complete{SweepEnd::Kind::kComplete, 0, 2, 2, true};

  auto json = makeJsonReporter();
  const nlohmann::json whole =
      nlohmann::json::parse(document(*json, context, {automatic, chosen}, complete));
  const nlohmann::json& held = whole["context"]["vector_paths"];
  ASSERT_EQ(held.size(), buildInfo().paths.size());
  EXPECT_EQ(held.back()["kernels"][0], forced);
  EXPECT_EQ(whole["context"]["kernel"], buildInfo().kernel);
  EXPECT_EQ(whole["context"]["vector_path_option"], "auto");
  const nlohmann::json& second = whole["benchmarks"][1];
  EXPECT_EQ(second["kernel_option"], forced);
  EXPECT_EQ(second["vector_path"], portable.name) << "what ran, not the automatic choice";
  EXPECT_EQ(second["vector_doubles"], portable.doubles);
  EXPECT_EQ(whole["benchmarks"][0]["kernel"], buildInfo().kernel);

  // The rows gain a kernel column after n and block, only when kernels were asked for.
  auto csv = makeRowReporter(false);
  const std::string rows = document(*csv, context, {automatic, chosen}, complete);
  EXPECT_TRUE(rows.starts_with("n,block,kernel,median_ns,")) << rows;
  EXPECT_NE(rows.find("\n100,7," + forced + ",200,"), std::string::npos) << rows;
  EXPECT_NE(rows.find("\n100,7," + buildInfo().kernel + " (auto),200,"), std::string::npos) << rows;
  csv = makeRowReporter(false);
  EXPECT_TRUE(
      document(*csv, contextOf({100}), {automatic}, complete).starts_with("n,block,median_ns,"));

  // The table's header: how the path and each kernel were chosen, and every path held.
  auto table = makeTableReporter(true);
  const std::string text = document(*table, context, {automatic, chosen}, complete);
  EXPECT_NE(text.find("tile kernels, one combination each:\n"), std::string::npos) << text;
  EXPECT_NE(text.find(forced + " on " + portable.name + ", forced by --kernel\n"),
            std::string::npos)
      << text;
  for (const HeldPath& path : buildInfo().paths) {
    EXPECT_NE(text.find("\n    " + path.name + " (needs "), std::string::npos) << path.name;
  }
  EXPECT_NE(text.find(formatText("%7d %7d %-22s ", 100, 7, forced.c_str())), std::string::npos)
      << text;
}

}  // namespace

namespace {

std::string fileContents(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "<missing>";
  std::string text;
  char buffer[256];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

// A file size limit reached just past a whole state, so close that its closing no longer fits:
// the document is cut back further, to the state before, and still closed whole.
TEST(ReportDocument, AClosingThatNoLongerFitsFallsBackToAnEarlierWholeState) {
  char directory[] = "/tmp/lubench-documentXXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/doc.json";
  TargetResolution resolved = resolveOutputTarget(path, "--out");
  ASSERT_TRUE(resolved.target) << resolved.error;
  std::string error;
  std::unique_ptr<PendingOutput> output = PendingOutput::create(*resolved.target, error);
  ASSERT_NE(output, nullptr) << error;
  ReportDocument document(std::move(output), makeJsonReporter());
  document.markWhole(0, "[]");
  document.write("[0");
  document.markWhole(1, "]");
  document.write(",1");
  document.markWhole(2, std::string(64, ' ') + "]");
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  document.write(std::string(32, 'x'));
  // Its message goes to standard error, which the limit would cut too.
  ::testing::internal::CaptureStderr();
  const bool finished = document.finish(true);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previousHandler);
  ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(finished);
  EXPECT_EQ(fileContents(path), "[0]");
  EXPECT_EQ(document.wholeCombinations(), 1);
  std::remove(path.c_str());
  rmdir(directory);
}

TEST(ReportReporters, TheTableShowsEachCombinationsBandAndNamesThoseOutsideIt) {
  const CombinationRecord fast =
      handBuiltCombination({handBuiltRun(100, 0.5, 7), handBuiltRun(300, 0.5, 7)});
  CombinationRecord slow = fast;
  slow.options.n = 120;
  CombinationRecord unknown = fast;
  unknown.options.n = 140;
  SweepContext context = contextOf({100, 120, 140});
  SavedExpectations bands;
  bands.path = "bands.json";
  bands.entries = {{"M", "avx2", 100, 7, 6, 5, 8}, {"M", "avx2", 120, 7, 9, 8, 10}};
  context.expectations = bands;
  const SweepEnd complete{SweepEnd::Kind::kComplete, 0, 3, 3, true};
  // Each median rate (6.67 GFLOP/s) against its own band, as the sweep sets it.
  const auto written = [&](Reporter& reporter, const SweepContext& with) {
    return formatted([&](const TextSink& sink) {
      reporter.context(with, sink);
      for (const CombinationRecord& record : {fast, slow, unknown}) {
        Summary summary = summarize(record, std::nullopt);
        if (with.expectations) {
          summary.expectation = checkBand(*with.expectations, "M", "avx2", record.options.n,
                                          record.options.block, summary.gflops.median);
        }
        reporter.combination(record, summary, sink);
      }
      reporter.end(complete, sink);
    });
  };

  auto table = makeTableReporter(false);
  const std::string full = written(*table, context);
  EXPECT_NE(full.find("reference band: median 6.67 GFLOP/s, expected 5.0–8.0 GFLOP/s: within\n"),
            std::string::npos)
      << full;
  EXPECT_NE(full.find("expected 8.0–10.0 GFLOP/s: below  (OUTSIDE ITS BAND)\n"),
            std::string::npos);
  EXPECT_NE(full.find("reference band: none for this CPU model, vector path, n and block"),
            std::string::npos);
  const std::string summaryRows = full.substr(full.find("\nsummary\n"));
  EXPECT_NE(summaryRows.find("fingerprint  band\n"), std::string::npos) << summaryRows;
  EXPECT_NE(summaryRows.find("  expected 8.0–10.0 GFLOP/s: below\n"), std::string::npos);
  EXPECT_NE(summaryRows.find("  no reference\n"), std::string::npos);
  EXPECT_TRUE(full.ends_with("result: PASSED\nreference bands: OUTSIDE for n 120, block 7\n"))
      << full;

  // Without --expect, no band line and no band column.
  context.expectations.reset();
  table = makeTableReporter(false);
  const std::string plain = written(*table, context);
  // (The build's kernels may hold the word: "bands_6_5x4v8".)
  EXPECT_EQ(plain.find("reference band"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("fingerprint  band"), std::string::npos) << plain;
}

}  // namespace
