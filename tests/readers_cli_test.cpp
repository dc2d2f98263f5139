#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.hpp"

// The readers of saved documents when memory runs out: one line and status 1, never an abort;
// fleet skips the file and goes on. And export, which writes as it goes: a large export needs no
// more memory than its document.

namespace {

using json = nlohmann::json;

#if defined(LUBENCH_SANITIZED) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A run's document from host with one combination of runs timed runs, as text.
std::string document(const std::string& host, int runs) {
  std::string text = R"({"document_kind":"run","context":{"json_schema_version":2,"host_name":")" +
                     host +
                     R"("},"benchmarks":[{"n":64,"block":32,"seed":1,)"
                     R"("fingerprint":"dd81ca9bfcc2bdf5","runs":[)";
  for (int i = 0; i < runs; ++i) {
    text += (i == 0 ? "" : ",") + std::string(R"({"timed_ns":)") +
            std::to_string(1000000 + i % 997) + "}";
  }
  return text + "]}]}";
}

ProcessResult report(const std::vector<std::string>& arguments, rlim_t limit) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, {.addressSpaceLimit = limit});
}

TEST(ReadersUnderALimit, MemoryThatRunsOutIsOneLineAndTheFleetGoesOn) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  ScratchDirectory dir("readers");
  // Two million runs (40 MB of text) do not fit in 120 MiB beside the program itself.
  const std::string big = dir.write("big.json", document("big", 2'000'000));
  const std::string small = dir.write("small.json", document("small", 9));
  const rlim_t limit = 120u << 20;
  const std::string line = "big.json: out of memory while reading it\n";
  for (const char* format : {"gbench", "bmf"}) {
    const ProcessResult exported = report({"export", big, "--format", format}, limit);
    EXPECT_EQ(exported.status, 1) << exported.err;
    EXPECT_EQ(exported.err, "lubench-report export: " + big.substr(0, big.size() - 8) + line);
  }
  for (const auto& pair : {std::vector{big, small}, std::vector{small, big}}) {
    const ProcessResult compared = report({"compare", pair[0], pair[1]}, limit);
    EXPECT_EQ(compared.status, 1) << compared.err;
    EXPECT_EQ(compared.out, "");
    EXPECT_NE(compared.err.find("lubench-report compare: "), std::string::npos) << compared.err;
    EXPECT_NE(compared.err.find(line), std::string::npos) << compared.err;
  }
  // The fleet names the file it skipped, reports the rest, and says with its status that it
  // could not read everything.
  const ProcessResult fleet = report({"fleet", big, small, "--format", "json"}, limit);
  EXPECT_EQ(fleet.status, 1) << fleet.err;
  EXPECT_NE(fleet.err.find("lubench-report fleet: skipped: " + big.substr(0, big.size() - 8) + line),
            std::string::npos)
      << fleet.err;
  const json out = json::parse(fleet.out);
  EXPECT_EQ(out["documents"], 1);
  EXPECT_EQ(out["combinations"][0]["groups"][0]["entries"][0]["node"], "small");
  // Without the limit the same documents read.
  EXPECT_EQ(report({"fleet", big, small}, RLIM_INFINITY).status, 0);
}

TEST(ReadersUnderALimit, ExportWritesAsItGoes) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  ScratchDirectory dir("export-stream");
  // 200000 runs: 4 MB of document, 70 MB of Google Benchmark's JSON, which would not fit in
  // 150 MiB beside the program and the document were it made whole before it is written.
  const int runs = 200'000;
  const std::string source = dir.write("runs.json", document("node", runs));
  const rlim_t limit = 150u << 20;
  const ProcessResult out = report({"export", source, "--format", "gbench"}, limit);
  ASSERT_EQ(out.status, 0) << out.err;
  const ProcessResult file =
      report({"export", source, "--format", "gbench", "--out", dir.path("gb.json")}, limit);
  ASSERT_EQ(file.status, 0) << file.err;
  std::ifstream in(dir.path("gb.json"));
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), out.out) << "the same text to a file as to standard output";
  const json exported = json::parse(out.out);
  ASSERT_EQ(exported["benchmarks"].size(), static_cast<std::size_t>(runs + 4));
  EXPECT_EQ(exported["benchmarks"][runs - 1]["repetition_index"], runs - 1);
  EXPECT_EQ(exported["benchmarks"][runs + 1]["aggregate_name"], "median");
  EXPECT_EQ(exported["context"]["lubench_context"]["host_name"], "node");
  const ProcessResult bmf = report({"export", source, "--format", "bmf"}, limit);
  ASSERT_EQ(bmf.status, 0) << bmf.err;
  const double median = json::parse(bmf.out)["lu/n:64/block:32/median"]["latency"]["value"];
  EXPECT_TRUE(median >= 1000000 && median < 1000997) << median;
}

}  // namespace
