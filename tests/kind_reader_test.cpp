#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "document_reader.hpp"
#include "plot.hpp"
#include "pictures.hpp"

// The reader of the A/B session's, the comparison's and the fleet's documents: what it takes
// from each, every required key missing or mistyped, the kinds a caller does not take; and the
// pictures' scripts, whose text no document can turn into a command.

namespace {

using json = nlohmann::json;

constexpr std::initializer_list<DocumentKind> kEveryKind = {
    DocumentKind::kRun, DocumentKind::kAbSession, DocumentKind::kComparison, DocumentKind::kFleet};

json ratio(double median, json low, json high) {
  return json{{"median", median}, {"low", low}, {"high", high}, {"verdict", "slower"}};
}

json session() {
  json pairs = json::array();
  for (int p = 0; p < 6; ++p) {
    pairs.push_back(json{{"first", p % 2 == 0 ? "old" : "new"},
                         {"old", {{"timed_ns", 100.0}}},
                         {"new", {{"timed_ns", 101.0 + p}}}});
  }
  return json{{"document_kind", "ab_session"},
              {"context",
               {{"cpu_model", "X"},
                {"seed", 4},
                {"pinned_cpu", nullptr},
                {"old", {{"lubench_version", "0.19.0"}, {"git_commit", "0123456789abcdef0000"}}},
                {"new", nullptr}}},
              {"combinations",
               json::array({json{{"n", 96},
                                 {"block", 32},
                                 {"seed", 4},
                                 {"pairs", pairs},
                                 {"ratio", ratio(1.03, 1.01, 1.05)},
                                 {"steps", {{"pivots", ratio(1.0, nullptr, nullptr)}}}}})},
              {"interrupted", false}};
}

json comparison() {
  json row = {{"n", 64},         {"block", 32},        {"kernel_option", "auto"},
              {"old_seed", 5},   {"new_seed", 6},
              {"old_median_ns", 100.0}, {"new_median_ns", 110.0}, {"change", 0.1},
              {"shift", 0.09},   {"verdict", "slower"}, {"ratio_low", 1.05},
              {"ratio_high", 1.15}, {"within_noise", true}};
  return json{{"document_kind", "comparison"},
              {"date", "2026-12-11T10:00:00+00:00"},
              {"comparisons",
               json::array({json{{"old", "a.json"},
                                 {"new", "b.json"},
                                 {"rows", json::array({row})},
                                 {"geometric_mean_ratio", 1.1},
                                 {"noise_floor_percent", 12.5},
                                 {"old_context", {{"cpu_model", "X"}}},
                                 {"new_context", nullptr}}})}};
}

json fleet() {
  json entry = {{"node", "n1"},   {"cpu", nullptr},  {"median_ns", 200.0},
                {"over_median", 0.0}, {"slow", false}, {"fingerprint", "0123456789abcdef"}};
  json slow = entry;
  slow["node"] = "n2";
  slow["median_ns"] = 260.0;
  slow["over_median"] = 0.3;
  slow["slow"] = true;
  slow["fingerprint"] = "fedcba9876543210";
  return json{{"document_kind", "fleet"},
              {"documents", 2},
              {"slower_than_percent", 10},
              {"combinations",
               json::array({json{{"n", 64},
                                 {"block", 32},
                                 {"seed", 1},
                                 {"kernel_option", "auto"},
                                 {"majority_fingerprint", "0123456789abcdef"},
                                 {"groups", json::array({json{{"build", "X; 0.19.0"},
                                                              {"copies", false},
                                                              {"median_ns", 230.0},
                                                              {"entries", {entry, slow}}}})}}})}};
}

DocumentReading readAny(const json& document) {
  return parseDocumentOf(document.dump(), "k.json", kEveryKind);
}

std::string problemsOf(const json& document) {
  std::string all;
  for (const std::string& problem : readAny(document).problems) all += problem + "\n";
  return all;
}

TEST(KindReader, EachKindBecomesItsRecords) {
  const DocumentReading ab = readAny(session());
  ASSERT_TRUE(ab.session) << (ab.problems.empty() ? "" : ab.problems.front());
  EXPECT_EQ(ab.kind, DocumentKind::kAbSession);
  EXPECT_FALSE(ab.document || ab.comparisons || ab.fleet);
  const SavedSessionCombination& combination = ab.session->combinations.at(0);
  ASSERT_EQ(combination.pairs.size(), 6u);
  EXPECT_TRUE(combination.pairs[0].oldFirst);
  EXPECT_FALSE(combination.pairs[1].oldFirst);
  EXPECT_EQ(combination.pairs[5].newNanoseconds, 106.0);
  ASSERT_TRUE(combination.ratio && combination.ratio->low);
  EXPECT_EQ(*combination.ratio->high, 1.05);
  EXPECT_FALSE(combination.steps.at("pivots").low) << "null below 6 pairs";
  EXPECT_EQ(ab.session->context.at("seed"), "4");
  EXPECT_FALSE(ab.session->context.contains("pinned_cpu")) << "null keys are left out";
  EXPECT_EQ(ab.session->oldBuild, "0.19.0 0123456789ab");
  EXPECT_EQ(ab.session->newBuild, "") << "a plain benchmark has no build";

  const DocumentReading compared = readAny(comparison());
  ASSERT_TRUE(compared.comparisons) << (compared.problems.empty() ? "" : compared.problems[0]);
  const SavedComparison& c = compared.comparisons->comparisons.at(0);
  EXPECT_EQ(c.rows.at(0).change, 0.1);
  EXPECT_EQ(*c.rows.at(0).ratioHigh, 1.15);
  EXPECT_EQ(c.rows.at(0).newSeed, 6u);
  EXPECT_TRUE(c.rows.at(0).withinNoise);
  EXPECT_EQ(c.noiseFloorPercent, 12.5);
  EXPECT_EQ(c.oldContext.at("cpu_model"), "X");
  EXPECT_TRUE(c.newContext.empty());

  const DocumentReading ranked = readAny(fleet());
  ASSERT_TRUE(ranked.fleet) << (ranked.problems.empty() ? "" : ranked.problems[0]);
  const SavedFleetGroup& group = ranked.fleet->combinations.at(0).groups.at(0);
  ASSERT_EQ(group.entries.size(), 2u);
  EXPECT_TRUE(group.entries[1].slow);
  EXPECT_EQ(group.entries[1].fingerprint, "fedcba9876543210");
  EXPECT_EQ(ranked.fleet->slowerThanPercent, 10);
}

TEST(KindReader, EveryRequiredKeyMissingOrMistypedIsAProblemNamingItsPlace) {
  struct Case {
    std::function<json()> make;
    std::function<void(json&)> spoil;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {session, [](json& d) { d.erase("combinations"); }, "\"combinations\" is missing"},
      {session, [](json& d) { d["combinations"][0]["pairs"][2]["old"].erase("timed_ns"); },
       "combinations[0].pairs[2].old: \"timed_ns\""},
      {session, [](json& d) { d["combinations"][0]["pairs"][1]["new"]["timed_ns"] = -1; },
       "combinations[0].pairs[1].new"},
      {session, [](json& d) { d["combinations"][0]["pairs"][0]["first"] = "both"; },
       "\"first\" must be \"old\" or \"new\""},
      {session, [](json& d) { d["combinations"][0]["ratio"]["low"] = 1.2; },
       "the interval must hold the median"},
      {session, [](json& d) { d["combinations"][0]["steps"] = json::array(); },
       "\"steps\" must be an object"},
      {session, [](json& d) { d["combinations"][0]["n"] = 0; }, "combinations[0]"},
      {session, [](json& d) { d["interrupted"] = "no"; }, "\"interrupted\" must be true or false"},
      {comparison, [](json& d) { d["comparisons"][0]["rows"][0]["change"] = "ten"; },
       "comparisons[0].rows[0]: \"change\" must be a number"},
      {comparison, [](json& d) { d["comparisons"][0]["rows"][0]["old_median_ns"] = 0; },
       "the medians must be above 0"},
      {comparison, [](json& d) { d["comparisons"][0]["rows"][0]["ratio_high"] = nullptr; },
       "must both be given"},
      {comparison, [](json& d) { d["comparisons"][0].erase("new"); }, "\"new\" is missing"},
      {comparison, [](json& d) { d["comparisons"][0]["rows"][0]["old_seed"] = -1; },
       "\"old_seed\""},
      {comparison, [](json& d) { d["comparisons"] = json::object(); }, "must be an array"},
      {fleet, [](json& d) { d["combinations"][0]["groups"][0]["entries"][1]["slow"] = 1; },
       "groups[0].entries[1]: \"slow\" must be true or false"},
      {fleet, [](json& d) { d["combinations"][0]["groups"][0]["entries"][0]["median_ns"] = 2e18; },
       "entries[0]: \"median_ns\" must be a number from 0 to 1e+18"},
      {fleet, [](json& d) { d["combinations"][0]["groups"][0].erase("build"); },
       "\"build\" is missing"},
      {fleet, [](json& d) { d["slower_than_percent"] = "10"; }, "\"slower_than_percent\""},
  };
  for (const Case& c : cases) {
    json document = c.make();
    c.spoil(document);
    std::string text = document.dump();
    const DocumentReading reading = parseDocumentOf(text, "k.json", kEveryKind);
    std::string problems;
    for (const std::string& problem : reading.problems) problems += problem + "\n";
    EXPECT_NE(problems.find(c.expected), std::string::npos)
        << "expected " << c.expected << " in:\n" << problems;
    EXPECT_FALSE(reading.session || reading.comparisons || reading.fleet) << c.expected;
    EXPECT_NE(problems.find("k.json"), std::string::npos) << "the file is named";
  }
}

TEST(KindReader, ACallerGetsOnlyTheKindsItTakes) {
  // A run's reader names what it was given.
  for (const auto& [document, named] : std::vector<std::pair<json, std::string>>{
           {session(), "an A/B session's document"},
           {fleet(), "a fleet's report"},
           {comparison(), "a comparison's document"}}) {
    const DocumentReading reading = parseDocument(document.dump(), "k.json");
    ASSERT_EQ(reading.problems.size(), 1u);
    EXPECT_NE(reading.problems[0].find("is " + named + ", not a run's document"),
              std::string::npos)
        << reading.problems[0];
    EXPECT_FALSE(reading.session || reading.fleet || reading.comparisons);
  }
  const DocumentReading two = parseDocumentOf(
      fleet().dump(), "k.json", {DocumentKind::kRun, DocumentKind::kAbSession});
  ASSERT_FALSE(two.problems.empty());
  EXPECT_NE(two.problems[0].find("not a run's document or an A/B session's document "
                                 "(\"document_kind\": \"run\", \"ab_session\")"),
            std::string::npos)
      << two.problems[0];
  json unknown = fleet();
  unknown["document_kind"] = "fleet2";
  EXPECT_NE(problemsOf(unknown).find("a document of unknown kind \"fleet2\""), std::string::npos);
}

// A run's peak and LAPACK's rate are details: read where they are rates, else warned of.
TEST(KindReader, ARunsPeakAndLapackRateAreReadLeniently) {
  const json benchmark = {{"n", 64},
                          {"block", 32},
                          {"seed", 1},
                          {"fingerprint", "0123456789abcdef"},
                          {"runs", json::array({json{{"timed_ns", 100}}})},
                          {"peak_gflops", 50.5},
                          {"lapack", {{"gflops", {{"median", 20.25}}}}}};
  json bad = benchmark;
  bad["n"] = 96;
  bad["peak_gflops"] = "fast";
  bad["lapack"]["gflops"]["median"] = -1;
  const json document = {{"context", {{"json_schema_version", 2}}},
                         {"benchmarks", json::array({benchmark, bad})}};
  const DocumentReading reading = parseDocument(document.dump(), "r.json");
  ASSERT_TRUE(reading.document) << reading.problems.at(0);
  EXPECT_EQ(reading.document->combinations[0].peakGflops, 50.5);
  EXPECT_EQ(reading.document->combinations[0].lapackGflops, 20.25);
  EXPECT_FALSE(reading.document->combinations[1].peakGflops);
  EXPECT_FALSE(reading.document->combinations[1].lapackGflops);
  ASSERT_EQ(reading.warnings.size(), 2u);
  EXPECT_NE(reading.warnings[0].find("\"peak_gflops\" left out: \"fast\""), std::string::npos)
      << reading.warnings[0];
}

// Text from a document, in any panel's title, tick or key, stays text: no backquote (gnuplot's
// command substitution) survives, no quote ends a string early, no newline starts a command.
TEST(Pictures, NoDocumentTextBecomesACommand) {
  const std::string hostile = "n`touch /tmp/x`\"; system('id') #\n!id \\";
  // A file name need not be UTF-8; a document's text must be.
  const std::string path = hostile + "\xff";
  json ab = session();
  ab["context"]["cpu_model"] = hostile;
  ab["context"]["old_executable"] = hostile;
  ab["combinations"][0]["steps"] = {{"pivots", ratio(1.0, 0.9, 1.1)}};
  json ranked = fleet();
  ranked["combinations"][0]["groups"][0]["entries"][0]["node"] = hostile;
  ranked["combinations"][0]["groups"][0]["build"] = hostile;
  json compared = comparison();
  compared["comparisons"][0]["new"] = hostile;
  Picture picture;
  for (const json& document : {ab, ranked, compared}) {
    const DocumentReading reading = readAny(document);
    ASSERT_TRUE(addDocumentPicture(picture, reading, path)) << reading.problems.at(0);
  }
  EXPECT_EQ(picture.panels(), 4) << "pairs, steps, the fleet's group, the comparison";
  const std::string svg = picture.script(PlotFormat::kSvg);
  EXPECT_NE(svg.find("n 64, block 32, seed 5 and 6: slower (within the noise)"),
            std::string::npos);
  EXPECT_NE(svg.find("rect from first -12.5, graph 0 to first 12.5, graph 1"),
            std::string::npos)
      << "the noise floor is shaded";
  for (const PlotFormat format : {PlotFormat::kSvg, PlotFormat::kPng}) {
    const std::string script = picture.script(format);
    EXPECT_EQ(script.find('`'), std::string::npos);
    EXPECT_EQ(script.find("\n!"), std::string::npos);
    EXPECT_EQ(script.find("system('id')\""), std::string::npos) << "the quote is escaped";
    EXPECT_NE(script.find("\\\"; system('id')"), std::string::npos);
    EXPECT_NE(script.find("background '#ffffff'"), std::string::npos);
    // No string runs past its line: with the escapes taken out, every line's quotes pair up.
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
      const std::string plain = std::regex_replace(line, std::regex(R"(\\\\|\\")"), "");
      EXPECT_EQ(std::count(plain.begin(), plain.end(), '"') % 2, 0) << line;
    }
  }
}

// A run's document as a sweep of orders, or of blocks at one order: ticks at what was measured,
// y from 0, the peak and LAPACK where measured, copies beside the single copy.
TEST(Pictures, ARunIsDrawnAtTheOrdersOrBlocksItMeasured) {
  const auto combination = [](int n, int block, double peak) {
    SavedCombination c;
    c.n = n;
    c.block = block;
    c.seed = 3;
    c.timedNanoseconds = {1e6, 1.1e6, 0.9e6, 1e6, 1.2e6, 1e6};
    c.peakGflops = peak;
    return c;
  };
  SavedDocument sweep;
  sweep.context = {{"cpu_model", "Model Z"}, {"date", "2026-12-11T10:00:00+00:00"},
                   {"lubench_version", "0.19.0"}, {"git_commit", "0123456789abcdef0123"}};
  for (const int n : {96, 512, 4096}) sweep.combinations.push_back(combination(n, 32, 50));
  sweep.combinations[1].lapackGflops = 20;
  sweep.combinations[2].timedNanoseconds = {1e6, 1.01e6, 0.99e6, 1e6, 1.02e6, 3e6};
  sweep.combinations.push_back(combination(512, 64, 50));
  Picture picture;
  addRunPicture(picture, sweep);
  std::string script = picture.script(PlotFormat::kSvg);
  EXPECT_NE(script.find("set xtics (96, 512, 4096)"), std::string::npos) << script;
  EXPECT_NE(script.find("set logscale x 2"), std::string::npos);
  EXPECT_NE(script.find("set yrange [0:"), std::string::npos);
  EXPECT_NE(script.find("measured peak, separate multiply-add: 50.0 GFLOP/s"), std::string::npos);
  EXPECT_NE(script.find("set link y2 via 100*y/50"), std::string::npos);
  EXPECT_NE(script.find("\"LAPACK, block 32\""), std::string::npos);
  EXPECT_NE(script.find("\"block 64: median"), std::string::npos);
  EXPECT_NE(script.find("Model Z, 2026-12-11T10:00:00+00:00"), std::string::npos);
  EXPECT_NE(script.find("build 0.19.0 0123456789ab,"), std::string::npos);
  EXPECT_NE(script.find("seed 3"), std::string::npos);
  EXPECT_EQ(picture.panels(), 1);
  // The one outlier run is ringed, and the key says so once.
  const std::string ringed = "ringed: a run flagged as an outlier";
  ASSERT_NE(script.find(ringed), std::string::npos);
  EXPECT_EQ(script.find(ringed, script.find(ringed) + 1), std::string::npos);

  // Blocks at one order: the block on x; two peaks, so neither is drawn.
  SavedDocument blocks;
  for (const int block : {8, 16, 24}) blocks.combinations.push_back(combination(256, block, 40));
  blocks.combinations[2].peakGflops = 41;
  blocks.combinations[0].copies = {SavedCopy{2, 1, "0123456789abcdef", 1.2e6, true, ""},
                                   SavedCopy{5, std::nullopt, "", 0, false, "killed by SIGKILL"}};
  Picture byBlock;
  addRunPicture(byBlock, blocks);
  script = byBlock.script(PlotFormat::kPng);
  EXPECT_NE(script.find("set xtics (8, 16, 24)"), std::string::npos) << script;
  EXPECT_EQ(script.find("set logscale x"), std::string::npos) << "8 to 24 is no factor of 4";
  EXPECT_NE(script.find("rate against block, n 256"), std::string::npos);
  EXPECT_EQ(script.find("measured peak"), std::string::npos);
  ASSERT_EQ(byBlock.panels(), 2) << "the rates, then the copies";
  EXPECT_NE(script.find("\"CPU 2\" 0, \"CPU 5\" 1"), std::string::npos);
  EXPECT_NE(script.find("title 'died'"), std::string::npos);
  EXPECT_NE(script.find("the single copy alone: 1.000 ms"), std::string::npos);
}

}  // namespace
