#include "document_reader.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "compare.hpp"
#include "text_format.hpp"

// The reader of saved documents, fed every kind of malformed document; the comparison's
// statistics and parsers on known cases.

namespace {

using json = nlohmann::json;

json run(double timed) {
  return json{{"timed_ns", timed}};
}

json benchmark(int n, int block = 32) {
  return json{{"n", n},
              {"block", block},
              {"seed", 7},
              {"fingerprint", "0123456789abcdef"},
              {"runs", json::array({run(100), run(110)})}};
}

json goodDocument() {
  return json{{"context", {{"json_schema_version", 2}, {"cpu_model", "X"}, {"turbo", nullptr}}},
              {"benchmarks", json::array({benchmark(64), benchmark(128)})},
              {"interrupted", false}};
}

// The problems of a document, all on one string for matching.
std::string problemsOf(const json& document) {
  const DocumentReading reading = parseDocument(document.dump(), "d.json");
  std::string all;
  for (const std::string& problem : reading.problems) all += problem + "\n";
  EXPECT_EQ(reading.document.has_value(), reading.problems.empty());
  return all;
}

TEST(DocumentReader, AGoodDocumentBecomesTypedRecords) {
  json document = goodDocument();
  document["context"]["new_key_of_a_later_version"] = json::array({1, 2});
  document["benchmarks"][0]["new_key"] = "ignored";
  const DocumentReading reading = parseDocument(document.dump(), "d.json");
  ASSERT_TRUE(reading.document) << reading.problems.front();
  const SavedDocument& saved = *reading.document;
  EXPECT_EQ(saved.schemaVersion, 2);
  EXPECT_EQ(saved.context.at("cpu_model"), "X");
  EXPECT_EQ(saved.context.at("new_key_of_a_later_version"), "[1,2]");
  EXPECT_FALSE(saved.context.contains("turbo")) << "null is no value";
  ASSERT_EQ(saved.combinations.size(), 2u);
  EXPECT_EQ(saved.combinations[1].n, 128);
  EXPECT_EQ(saved.combinations[1].seed, 7u);
  EXPECT_EQ(saved.combinations[1].timedNanoseconds, (std::vector<double>{100, 110}));
  EXPECT_TRUE(reading.warnings.empty());
}

TEST(DocumentReader, EveryWrongKeyIsNamedWithItsFileAndCombination) {
  struct Case {
    const char* what;
    std::function<void(json&)> spoil;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"an array", [](json& d) { d = json::array(); }, "not a JSON object"},
      {"context a number", [](json& d) { d["context"] = 5; }, "\"context\" must be an object"},
      {"no context", [](json& d) { d.erase("context"); }, "\"context\" is missing"},
      {"no version", [](json& d) { d["context"].erase("json_schema_version"); },
       "context: \"json_schema_version\" is missing"},
      {"version beyond 32 bits", [](json& d) { d["context"]["json_schema_version"] = 4294967298u; },
       "has JSON schema version 4294967298"},
      {"version a string", [](json& d) { d["context"]["json_schema_version"] = "2"; },
       "has JSON schema version \"2\""},
      {"benchmarks an object", [](json& d) { d["benchmarks"] = json::object(); },
       "\"benchmarks\" must be an array"},
      {"n a string", [](json& d) { d["benchmarks"][0]["n"] = "256"; },
       "benchmarks[0]: \"n\" must be a whole number from 1 to 2147483647, not \"256\""},
      {"n beyond int", [](json& d) { d["benchmarks"][0]["n"] = 4294967552u; },
       "\"n\" must be a whole number"},
      {"n a float", [](json& d) { d["benchmarks"][0]["n"] = 1e12; }, "not 1000000000000.0"},
      {"block zero", [](json& d) { d["benchmarks"][1]["block"] = 0; },
       "benchmarks[1]: \"block\" must be"},
      {"seed negative", [](json& d) { d["benchmarks"][0]["seed"] = -1; },
       "benchmarks[0] (n 64, block 32): \"seed\" must be a whole number from 0 to 4294967295"},
      {"no fingerprint", [](json& d) { d["benchmarks"][0].erase("fingerprint"); },
       "(n 64, block 32): \"fingerprint\" is missing"},
      {"fingerprint short", [](json& d) { d["benchmarks"][0]["fingerprint"] = "abc"; },
       "\"fingerprint\" must be 16 lower-case hexadecimal digits"},
      {"runs a string", [](json& d) { d["benchmarks"][0]["runs"] = "x"; },
       "\"runs\" must be an array, not \"x\""},
      {"no runs", [](json& d) { d["benchmarks"][0].erase("runs"); }, "\"runs\" is missing"},
      {"a bare number run", [](json& d) { d["benchmarks"][0]["runs"][1] = 5; },
       "(n 64, block 32), runs[1]: must be an object, not 5"},
      {"timed_ns a string", [](json& d) { d["benchmarks"][0]["runs"][0]["timed_ns"] = "5"; },
       "runs[0]: \"timed_ns\" must be a number of nanoseconds above 0"},
      {"timed_ns negative", [](json& d) { d["benchmarks"][0]["runs"][0]["timed_ns"] = -200; },
       "not -200"},
      {"timed_ns huge", [](json& d) { d["benchmarks"][0]["runs"][0]["timed_ns"] = 1.7e308; },
       "\"timed_ns\" must be"},
      {"no timed_ns", [](json& d) { d["benchmarks"][0]["runs"][0].erase("timed_ns"); },
       "runs[0]: \"timed_ns\" is missing"},
      {"a combination twice", [](json& d) { d["benchmarks"].push_back(benchmark(64)); },
       "benchmarks[2] (n 64, block 32): the combination appears again after benchmarks[0]"},
      {"interrupted a string", [](json& d) { d["interrupted"] = "yes"; },
       "\"interrupted\" must be true or false"},
      {"a benchmark a number", [](json& d) { d["benchmarks"][1] = 3; },
       "benchmarks[1]: must be an object, not 3"},
  };
  for (const Case& c : cases) {
    json document = goodDocument();
    c.spoil(document);
    const std::string problems = problemsOf(document);
    EXPECT_NE(problems.find(c.expected), std::string::npos) << c.what << ":\n" << problems;
    EXPECT_TRUE(problems.starts_with("d.json: ")) << c.what << ":\n" << problems;
  }
  // Bytes that are not UTF-8, or a document cut short.
  for (const char* text : {"{\"context\": \"\xff\"}", "{\"context\": ", ""}) {
    const DocumentReading reading = parseDocument(text, "d.json");
    ASSERT_EQ(reading.problems.size(), 1u);
    EXPECT_TRUE(reading.problems[0].starts_with("d.json: is not JSON")) << reading.problems[0];
  }
  // A number no double can hold (found by the fuzzer: the parser threw instead of refusing).
  const DocumentReading overflow = parseDocument("{\"context\": 33e333}", "d.json");
  ASSERT_EQ(overflow.problems.size(), 1u);
  EXPECT_EQ(overflow.problems[0], "d.json: holds a number too large for a double: not a document");
}

TEST(DocumentReader, ProblemsAreCappedAndWarningsSaidNotHidden) {
  json document = goodDocument();
  for (int i = 0; i < 30; ++i) document["benchmarks"][0]["runs"].push_back(json{{"timed_ns", -1}});
  const DocumentReading many = parseDocument(document.dump(), "d.json");
  ASSERT_EQ(many.problems.size(), static_cast<std::size_t>(kMaxProblemsPerFile) + 1);
  EXPECT_EQ(many.problems.back(), "d.json: 10 more problems not listed");

  json partial = goodDocument();
  partial["benchmarks"][1]["runs"] = json::array();
  partial["interrupted"] = true;
  partial["interrupted_by"] = "SIGTERM";
  partial["finished_combinations"] = 2;
  partial["combinations"] = 5;
  const DocumentReading reading = parseDocument(partial.dump(), "p\n.json");
  ASSERT_TRUE(reading.document);
  EXPECT_EQ(reading.document->combinations.size(), 1u);
  ASSERT_EQ(reading.warnings.size(), 2u);
  EXPECT_EQ(reading.warnings[0],
            "p\\x0A.json: benchmarks[1] (n 128, block 32) has no timed runs and is left out");
  EXPECT_EQ(reading.warnings[1],
            "p\\x0A.json: the sweep was interrupted (SIGTERM) after 2 of 5 combinations: it "
            "holds only what finished");
}

TEST(DocumentReader, OnlyRegularFilesOfBoundedSizeAreRead) {
  for (const char* path : {"/dev/zero", "/tmp", "/nonexistent/d.json"}) {
    const DocumentReading reading = readDocument(path);
    EXPECT_FALSE(reading.document) << path;
    ASSERT_EQ(reading.problems.size(), 1u) << path;
    EXPECT_NE(reading.problems[0].find(path), std::string::npos) << reading.problems[0];
  }
  EXPECT_NE(readDocument("/dev/zero").problems[0].find("a character device"), std::string::npos);
}

TEST(CompareStatistics, ShiftFailAboveAndPrintableText) {
  // Every difference new - old of {1, 2, 3} and {2, 4}: 1 3 0 2 -1 1: the median is 1.
  EXPECT_EQ(hodgesLehmannShift({1, 2, 3}, {2, 4}), 1);
  // Equal medians, a slower tail: the shift says slower.
  std::vector<double> before(4, 100.0), after(7, 500.0);
  before.insert(before.end(), 7, 500.0);
  after.insert(after.end(), 4, 900.0);
  EXPECT_GT(hodgesLehmannShift(before, after), 0);

  EXPECT_EQ(parseFailAbove("5"), 5.0);
  EXPECT_EQ(parseFailAbove("0"), 0.0);
  EXPECT_EQ(parseFailAbove("1000"), 1000.0);
  EXPECT_NEAR(*parseFailAbove("2.5"), 2.5, 1e-12);
  for (const char* bad : {"nan", "0x10", "1e2", "-1", "5%", "1000.1", "", ".", "1.2.3", " 5", "inf",
                          "99999999999999999999"}) {
    EXPECT_FALSE(parseFailAbove(bad)) << bad;
  }

  EXPECT_EQ(printable("a\nb\\c\xff\xc2\x9b d\xc3\xa9"), "a\\x0Ab\\\\c\\xFF\\xC2\\x9B d\xc3\xa9");
  EXPECT_EQ(jsonText(json("k\xff")), "\"k\xef\xbf\xbd\"");
}

}  // namespace

TEST(DocumentReader, StepTimesAreADetailAndOtherKindsOfDocumentAreNamed) {
  json document = goodDocument();
  document["document_kind"] = "run";
  document["benchmarks"][0]["runs"][0]["steps_ns"] = {{"pivots", 5}, {"trailing_sweep", 90}};
  document["benchmarks"][0]["runs"][1]["steps_ns"] = {{"pivots", "5"}};
  document["benchmarks"][1]["runs"][0]["steps_ns"] = json::array();
  const DocumentReading reading = parseDocument(document.dump(), "d.json");
  ASSERT_TRUE(reading.document) << reading.problems.front();
  const SavedCombination& first = reading.document->combinations[0];
  ASSERT_EQ(first.stepNanoseconds.size(), 2u) << "one entry per run";
  EXPECT_EQ(first.stepNanoseconds[0].at("trailing_sweep"), 90);
  EXPECT_TRUE(first.stepNanoseconds[1].empty());
  EXPECT_TRUE(reading.document->combinations[1].stepNanoseconds[1].empty()) << "none given";
  ASSERT_EQ(reading.warnings.size(), 2u);
  EXPECT_NE(reading.warnings[0].find("runs[1]: step times left out: \"pivots\" is \"5\""),
            std::string::npos)
      << reading.warnings[0];
  EXPECT_NE(reading.warnings[1].find("\"steps_ns\" is []"), std::string::npos);
  EXPECT_EQ(json::parse(reading.document->contextText)["cpu_model"], "X");

  for (const auto& [kind, expected] : std::vector<std::pair<json, std::string>>{
           {"ab_session", "an A/B session's document"},
           {"comparison", "a comparison's document"},
           {42, "a document of unknown kind 42"}}) {
    document["document_kind"] = kind;
    const std::string problems = problemsOf(document);
    EXPECT_NE(problems.find("d.json: is " + expected), std::string::npos) << problems;
  }
}

TEST(DocumentReader, CopiesAreReadLenientlyBesideTheSingleCopysRuns) {
  json document = goodDocument();
  document["benchmarks"][0]["copies"] = {
      {"per_copy",
       json::array({json{{"cpu", 3}, {"core", 1}, {"fingerprint", "0123456789abcdef"},
                         {"median_timed_ns", 90}, {"finished", true}},
                    json{{"cpu", 4}, {"core", nullptr}, {"finished", false}}})}};
  document["benchmarks"][1]["copies"] = {{"per_copy", json::array({json{{"cpu", "three"}}})}};
  const DocumentReading reading = parseDocument(document.dump(), "d.json");
  ASSERT_TRUE(reading.document) << reading.problems.front();
  const std::vector<SavedCopy>& copies = reading.document->combinations[0].copies;
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].cpu, 3);
  EXPECT_EQ(copies[0].core, 1);
  EXPECT_TRUE(copies[0].finished);
  EXPECT_EQ(copies[0].medianNanoseconds, 90);
  EXPECT_FALSE(copies[1].finished) << "no runs: not a finished copy, whatever it says";
  EXPECT_FALSE(copies[1].core);
  EXPECT_TRUE(reading.document->combinations[1].copies.empty());
  ASSERT_EQ(reading.warnings.size(), 1u);
  EXPECT_NE(reading.warnings[0].find("copies left out: a copy has no \"cpu\" number"),
            std::string::npos)
      << reading.warnings[0];
}

TEST(DocumentReader, AskedKernelsKeyTheCombinationsAndOlderDocumentsStillRead) {
  // Before the kernel keys: every combination the automatic choice, the one vector_path the
  // build held standing for what it holds and what ran.
  json older = goodDocument();
  older["context"]["vector_path"] = "avx2";
  const DocumentReading old = parseDocument(older.dump(), "old.json");
  ASSERT_TRUE(old.document) << old.problems.front();
  EXPECT_TRUE(old.warnings.empty());
  EXPECT_EQ(old.document->heldPaths, "avx2");
  const SavedCombination& oldFirst = old.document->combinations[0];
  EXPECT_EQ(oldFirst.kernelOption, "auto");
  EXPECT_EQ(oldFirst.vectorPath, "avx2");
  EXPECT_EQ(oldFirst.kernel, "");

  // Two kernels of one n and block are two combinations, each saying what it ran on.
  json newer = goodDocument();
  newer["context"]["vector_path"] = "avx512";
  newer["context"]["vector_paths"] =
      json::array({json{{"name", "avx512"}, {"kernels", {"k1", "k2"}}},
                   json{{"name", "sse2"}, {"needs", "SSE2"}, {"kernels", {"k3"}}}});
  json forced = benchmark(64);
  forced["kernel_option"] = "k3";
  forced["vector_path"] = "sse2";
  forced["kernel"] = "k3";
  newer["benchmarks"].push_back(forced);
  newer["benchmarks"][0]["kernel_option"] = "auto";
  newer["benchmarks"][0]["kernel"] = "k1";
  const DocumentReading now = parseDocument(newer.dump(), "new.json");
  ASSERT_TRUE(now.document) << now.problems.front();
  EXPECT_EQ(now.document->heldPaths, "avx512: k1, k2; sse2: k3");
  ASSERT_EQ(now.document->combinations.size(), 3u);
  const SavedCombination& third = now.document->combinations[2];
  EXPECT_EQ(combinationName(third), "n 64, block 32, kernel k3");
  EXPECT_EQ(third.vectorPath, "sse2");
  EXPECT_EQ(third.kernel, "k3");
  EXPECT_EQ(now.document->combinations[0].vectorPath, "avx512") << "the context's path stands in";

  // compare matches by the asked kernel too, and names the build by what it holds.
  const ComparisonResult compared = compareDocuments(*old.document, *now.document);
  ASSERT_TRUE(compared.comparison);
  const Comparison& c = *compared.comparison;
  EXPECT_EQ(c.rows.size(), 2u);
  EXPECT_EQ(c.onlyInNew, (std::vector<std::string>{"n 64, block 32, kernel k3"}));
  ASSERT_EQ(c.contextDifferences.size(), 1u);
  EXPECT_EQ(c.contextDifferences[0].key, "vector_paths");
  EXPECT_EQ(c.contextDifferences[0].newValue, "avx512: k1, k2; sse2: k3");
  ASSERT_EQ(c.ranDifferences.size(), 2u);
  EXPECT_EQ(c.ranDifferences[0], "n 64, block 32: avx2, ? -> avx512, k1");

  // The asked kernel is part of the key: never guessed, never twice.
  for (const auto& [option, expected] : std::vector<std::pair<json, std::string>>{
           {"k3",
            "benchmarks[3] (n 64, block 32, kernel k3): the combination appears again after "
            "benchmarks[2]"},
           {5, "benchmarks[3]: \"kernel_option\" must be \"auto\" or a tile kernel's name, not 5"},
           {"", "not \"\""},
           {"k 3", "not \"k 3\""}}) {
    json twice = newer;
    forced["kernel_option"] = option;
    twice["benchmarks"].push_back(forced);
    const std::string problems = problemsOf(twice);
    EXPECT_NE(problems.find(expected), std::string::npos) << problems;
  }
  // What ran, and what the build holds, are details: left out with a warning when mistyped.
  json mistyped = newer;
  mistyped["benchmarks"][2]["kernel"] = 7;
  mistyped["context"]["vector_paths"] = json::array({json{{"name", "avx512"}}});
  const DocumentReading lenient = parseDocument(mistyped.dump(), "m.json");
  ASSERT_TRUE(lenient.document) << lenient.problems.front();
  EXPECT_EQ(lenient.document->combinations[2].kernel, "");
  EXPECT_EQ(lenient.document->heldPaths, "avx512");
  ASSERT_EQ(lenient.warnings.size(), 2u);
  EXPECT_NE(lenient.warnings[0].find("context: \"vector_paths\" left out"), std::string::npos)
      << lenient.warnings[0];
  EXPECT_NE(lenient.warnings[1].find("kernel k3): \"kernel\" left out: 7 is not a name"),
            std::string::npos)
      << lenient.warnings[1];
}

TEST(DocumentReader, ShapesNoDocumentHasAreRefusedAsTheyAreParsed) {
  // Nesting deeper than any document's, and an array of more entries than any context holds:
  // refused with one line, before they can fill the memory.
  std::string deep = "{\"context\": {\"json_schema_version\": 2, \"x\": ";
  for (int i = 0; i < 200; ++i) deep += "[";
  for (int i = 0; i < 200; ++i) deep += "]";
  deep += "}, \"benchmarks\": []}";
  EXPECT_EQ(parseDocument(deep, "d.json").problems,
            std::vector<std::string>{"d.json: is nested deeper than 128 levels: not a document"});
  json wide = goodDocument();
  wide["context"]["x"] = json(std::vector<int>(100001, 1));
  EXPECT_NE(problemsOf(wide).find("more than 100000 entries outside the runs"), std::string::npos);
  // The runs are read one at a time: many of them read, and every bad one counted though only
  // the first are listed.
  json many = goodDocument();
  many["benchmarks"][0]["runs"] = json(std::vector<json>(150000, run(5)));
  many["benchmarks"][1]["runs"] = json(std::vector<json>(30, run(-1)));
  many["benchmarks"][1]["runs"][3] = run(7);
  const DocumentReading reading = parseDocument(many.dump(), "d.json");
  ASSERT_EQ(reading.problems.size(), 21u);
  EXPECT_EQ(reading.problems[20], "d.json: 9 more problems not listed");
  EXPECT_NE(reading.problems[3].find("benchmarks[1] (n 128, block 32), runs[4]: \"timed_ns\""),
            std::string::npos)
      << reading.problems[3];
  many["benchmarks"][1]["runs"] = json::array({run(1)});
  const DocumentReading read = parseDocument(many.dump(), "d.json");
  ASSERT_TRUE(read.document);
  EXPECT_EQ(read.document->combinations[0].timedNanoseconds.size(), 150000u);
}
