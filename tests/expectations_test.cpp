#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "document_reader.hpp"
#include "expectations.hpp"

// The reference bands' document as the one reader reads it, and the verdicts of a rate set
// against its band.

namespace {

using json = nlohmann::json;

json entry(const char* model = "AMD EPYC", const char* path = "avx512", int n = 4096,
           int block = 32) {
  return json{{"cpu_model", model}, {"vector_path", path}, {"n", n}, {"block", block},
              {"gflops", 40.0},     {"lower", 36.0},      {"upper", 46.0}};
}

json bands(json entries) {
  return json{{"document_kind", "expectations"}, {"expectations", std::move(entries)}};
}

DocumentReading parsed(const json& document) {
  return parseDocumentOf(document.dump(), "e.json", {DocumentKind::kExpectations});
}

std::string problemsOf(const json& document) {
  const DocumentReading reading = parsed(document);
  EXPECT_EQ(reading.expectations.has_value(), reading.problems.empty());
  std::string all;
  for (const std::string& problem : reading.problems) all += problem + "\n";
  return all;
}

TEST(ExpectationsReader, AGoodDocumentBecomesItsEntriesInOrder) {
  json document = bands(json::array({entry(), entry("Intel Xeon", "avx2", 1024, 64)}));
  document["expectations"][1]["note"] = "a key of a later version";
  document["expectations"][1]["gflops"] = 12;  // a whole number is a number
  document["expectations"][1]["lower"] = 12;
  const DocumentReading reading = parsed(document);
  ASSERT_TRUE(reading.expectations) << reading.problems.front();
  EXPECT_EQ(reading.kind, DocumentKind::kExpectations);
  EXPECT_EQ(reading.expectations->path, "e.json");
  ASSERT_EQ(reading.expectations->entries.size(), 2u);
  const ExpectationEntry& second = reading.expectations->entries[1];
  EXPECT_EQ(second.cpuModel, "Intel Xeon");
  EXPECT_EQ(second.vectorPath, "avx2");
  EXPECT_EQ(second.n, 1024);
  EXPECT_EQ(second.block, 64);
  EXPECT_EQ(second.gflops, 12);
  EXPECT_EQ(second.lower, 12);
  EXPECT_EQ(second.upper, 46);
  EXPECT_TRUE(reading.warnings.empty());

  // No entry at all reads, with a warning: nothing will be checked.
  const DocumentReading empty = parsed(bands(json::array()));
  ASSERT_TRUE(empty.expectations);
  ASSERT_EQ(empty.warnings.size(), 1u);
  EXPECT_NE(empty.warnings[0].find("\"expectations\" is empty"), std::string::npos);
}

TEST(ExpectationsReader, EveryMissingOrMistypedKeyIsNamedWithItsEntry) {
  struct Case {
    const char* what;
    std::function<void(json&)> spoil;
    const char* expected;
  };
  const auto at = [](json& d) -> json& { return d["expectations"][1]; };
  const std::vector<Case> cases = {
      {"no list", [](json& d) { d.erase("expectations"); }, "e.json: \"expectations\" is missing"},
      {"list an object", [](json& d) { d["expectations"] = json::object(); },
       "\"expectations\" must be an array, not {}"},
      {"entry a number", [&](json& d) { at(d) = 3; }, "expectations[1]: must be an object, not 3"},
      {"no cpu_model", [&](json& d) { at(d).erase("cpu_model"); },
       "expectations[1]: \"cpu_model\" is missing"},
      {"cpu_model a number", [&](json& d) { at(d)["cpu_model"] = 7; },
       "expectations[1]: \"cpu_model\" must be a string that is not empty, not 7"},
      {"cpu_model empty", [&](json& d) { at(d)["cpu_model"] = ""; },
       "\"cpu_model\" must be a string that is not empty"},
      {"no vector_path", [&](json& d) { at(d).erase("vector_path"); },
       "expectations[1]: \"vector_path\" is missing"},
      {"vector_path with a space", [&](json& d) { at(d)["vector_path"] = "avx 512"; },
       "\"vector_path\" must be a vector path's name, not \"avx 512\""},
      {"no n", [&](json& d) { at(d).erase("n"); }, "expectations[1]: \"n\" is missing"},
      {"n a fraction", [&](json& d) { at(d)["n"] = 64.5; },
       "\"n\" must be a whole number from 1 to 2147483647, not 64.5"},
      {"n zero", [&](json& d) { at(d)["n"] = 0; }, "\"n\" must be a whole number from 1"},
      {"n beyond an int", [&](json& d) { at(d)["n"] = 2147483648LL; },
       "\"n\" must be a whole number from 1 to 2147483647, not 2147483648"},
      {"block a string", [&](json& d) { at(d)["block"] = "32"; },
       "\"block\" must be a whole number from 1 to 2147483647, not \"32\""},
      {"no gflops", [&](json& d) { at(d).erase("gflops"); },
       "expectations[1]: \"gflops\" is missing"},
      {"gflops a string", [&](json& d) { at(d)["gflops"] = "40"; },
       "\"gflops\" must be a finite number of GFLOP/s above 0, not \"40\""},
      {"lower zero", [&](json& d) { at(d)["lower"] = 0; },
       "\"lower\" must be a finite number of GFLOP/s above 0, not 0"},
      {"upper negative", [&](json& d) { at(d)["upper"] = -46; },
       "\"upper\" must be a finite number of GFLOP/s above 0, not -46"},
      {"upper null", [&](json& d) { at(d)["upper"] = nullptr; },
       "\"upper\" must be a finite number of GFLOP/s above 0, not null"},
      {"bounds inverted", [&](json& d) { at(d)["lower"] = 46.0, at(d)["upper"] = 36.0; },
       "expectations[1]: the band must hold the expected rate, lower <= gflops <= upper, not "
       "46 <= 40 <= 36"},
      {"expected above the band", [&](json& d) { at(d)["gflops"] = 47.0; },
       "lower <= gflops <= upper, not 36 <= 47 <= 46"},
      {"a duplicate", [&](json& d) { at(d) = entry(); },
       "expectations[1]: a second band for cpu_model \"AMD EPYC\", vector_path avx512, n 4096, "
       "block 32 (the first is expectations[0])"},
  };
  for (const Case& c : cases) {
    json document = bands(json::array({entry(), entry("AMD EPYC", "avx2")}));
    c.spoil(document);
    const std::string problems = problemsOf(document);
    EXPECT_NE(problems.find(c.expected), std::string::npos) << c.what << ":\n" << problems;
  }
  // Every bad entry is named, not only the first.
  json document = bands(json::array({entry(), 5, entry("X"), json::object()}));
  document["expectations"][2]["n"] = -1;
  const std::string problems = problemsOf(document);
  for (const char* place : {"expectations[1]: must be", "expectations[2]: \"n\"",
                            "expectations[3]: \"cpu_model\"", "expectations[3]: \"upper\""}) {
    EXPECT_NE(problems.find(place), std::string::npos) << place << ":\n" << problems;
  }
  // Only the same machine and combination is a duplicate.
  EXPECT_EQ(problemsOf(bands(json::array({entry(), entry("AMD EPYC", "avx512", 4096, 64),
                                          entry("AMD EPYC", "avx512", 2048, 32),
                                          entry("AMD EPYC 2"), entry("AMD EPYC", "avx2")}))),
            "");
}

TEST(ExpectationsReader, OtherKindsAndFilesThatAreNoDocumentAreNamed) {
  const std::string asRun =
      parseDocumentOf(json{{"document_kind", "run"}}.dump(), "r.json",
                      {DocumentKind::kExpectations})
          .problems.at(0);
  EXPECT_NE(asRun.find("r.json: is a run's document, not a reference bands' document "
                       "(\"document_kind\": \"expectations\")"),
            std::string::npos)
      << asRun;
  const DocumentReading asBands = parseDocument(bands(json::array({entry()})).dump(), "e.json");
  ASSERT_FALSE(asBands.problems.empty());
  EXPECT_NE(asBands.problems[0].find("e.json: is a reference bands' document, not a run's"),
            std::string::npos)
      << asBands.problems[0];
  EXPECT_FALSE(asBands.expectations) << "records only of a kind asked for";

  // A FIFO without a writer is refused at once, not waited on.
  char directory[] = "/tmp/lubench-expect-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string fifo = std::string(directory) + "/bands\n\".json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const DocumentReading reading = readDocumentOf(fifo, {DocumentKind::kExpectations});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(reading.problems.size(), 1u);
  EXPECT_NE(reading.problems[0].find("bands\\x0A\".json is a FIFO"), std::string::npos)
      << reading.problems[0];
  EXPECT_FALSE(reading.expectations);
  unlink(fifo.c_str());
  rmdir(directory);
}

SavedExpectations oneBand() {
  SavedExpectations expectations;
  expectations.entries = {{"AMD EPYC", "avx512", 4096, 32, 40, 36, 46},
                          {"AMD EPYC", "avx2", 4096, 32, 20, 18, 22}};
  return expectations;
}

TEST(BandCheck, TheEdgesAreInsideAndTheNextRatesOutside) {
  const SavedExpectations expectations = oneBand();
  const auto verdict = [&](double gflops) {
    return checkBand(expectations, "AMD EPYC", "avx512", 4096, 32, gflops).verdict;
  };
  EXPECT_EQ(verdict(36), BandVerdict::kWithin);
  EXPECT_EQ(verdict(46), BandVerdict::kWithin);
  EXPECT_EQ(verdict(40), BandVerdict::kWithin);
  EXPECT_EQ(verdict(std::nextafter(36.0, 0.0)), BandVerdict::kBelow);
  EXPECT_EQ(verdict(std::nextafter(46.0, 100.0)), BandVerdict::kAbove);
  EXPECT_EQ(verdict(0), BandVerdict::kBelow);
  EXPECT_EQ(verdict(NAN), BandVerdict::kBelow) << "no rate reaches no band";
  EXPECT_EQ(verdict(INFINITY), BandVerdict::kAbove);

  // The path picks the band: 30 is below avx512's and above avx2's.
  const BandCheck onAvx2 = checkBand(expectations, "AMD EPYC", "avx2", 4096, 32, 30);
  EXPECT_EQ(onAvx2.verdict, BandVerdict::kAbove);
  ASSERT_TRUE(onAvx2.band);
  EXPECT_EQ(onAvx2.band->upper, 22);
  EXPECT_TRUE(onAvx2.outside());
  EXPECT_EQ(bandText(onAvx2), "expected 18.0–22.0 GFLOP/s: above");
  EXPECT_EQ(bandMessage(onAvx2, "n 4096, block 32", "AMD EPYC", "avx2"),
            "n 4096, block 32 on avx2: 30.00 GFLOP/s is above the band 18.0–22.0 GFLOP/s "
            "expected of AMD EPYC");
  EXPECT_FALSE(checkBand(expectations, "AMD EPYC", "avx512", 4096, 32, 40).outside());
  // A bound below 0.1 keeps its digits.
  SavedExpectations small;
  small.entries = {{"M", "sse2", 64, 8, 0.05, 0.025, 0.5}};
  EXPECT_EQ(bandText(checkBand(small, "M", "sse2", 64, 8, 0.01)), "expected 0.025–0.5 GFLOP/s: below");
}

TEST(BandCheck, OnlyTheSameModelPathOrderAndBlockIsAReference) {
  const SavedExpectations expectations = oneBand();
  struct Case {
    const char* model;
    const char* path;
    int n, block;
  };
  for (const Case& c : std::vector<Case>{{"AMD EPYC 7763", "avx512", 4096, 32},
                                         {"amd epyc", "avx512", 4096, 32},
                                         {"AMD EPYC", "sse2", 4096, 32},
                                         {"AMD EPYC", "avx512", 4095, 32},
                                         {"AMD EPYC", "avx512", 4096, 64},
                                         {"", "avx512", 4096, 32},
                                         {"AMD EPYC", "", 4096, 32}}) {
    const BandCheck check = checkBand(expectations, c.model, c.path, c.n, c.block, 1);
    EXPECT_EQ(check.verdict, BandVerdict::kNoReference) << c.model << " " << c.path << " " << c.n;
    EXPECT_FALSE(check.band);
    EXPECT_FALSE(check.outside()) << "no reference is said, not failed";
  }
  const BandCheck none = checkBand(expectations, "", "avx512", 4096, 32, 1);
  EXPECT_EQ(bandText(none), "no reference");
  EXPECT_EQ(verdictKey(none.verdict), std::string("no_reference"));
  EXPECT_EQ(bandMessage(none, "n 4096, block 32", "", "avx512"),
            "n 4096, block 32 on avx512: no reference band for an unknown CPU model");
  EXPECT_EQ(bandMessage(none, "n 1, block 1", "X\ny", ""),
            "n 1, block 1 on ?: no reference band for X\\x0Ay");
}

}  // namespace
