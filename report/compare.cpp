#include "compare.hpp"

#include <cmath>
#include <map>

#include "json_context.hpp"
#include "mann_whitney.hpp"
#include "statistics.hpp"

namespace {

using json = nlohmann::json;

// The context keys whose difference explains a difference in the figures.
const char* const kComparedContextKeys[] = {
    "host_name", "cpu_model", "cpu_family", "cpu_model_number", "compiler", "compiler_version",
    "compile_flags", "instruction_sets", "vector_path", "lubench_version", "git_commit",
    "git_dirty", "library_build_type"};

std::string describe(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "(none)";
  return value.dump();
}

std::string combinationName(int n, int block) {
  return "n " + std::to_string(n) + ", block " + std::to_string(block);
}

// The benchmarks of a document by (n, block); a document's layout is checked by the caller.
std::map<std::pair<int, int>, const json*> benchmarksOf(const json& document) {
  std::map<std::pair<int, int>, const json*> out;
  for (const json& benchmark : document["benchmarks"]) {
    if (!benchmark.contains("n") || !benchmark.contains("block")) continue;
    out[{benchmark["n"].get<int>(), benchmark["block"].get<int>()}] = &benchmark;
  }
  return out;
}

std::vector<double> timesOf(const json& benchmark) {
  std::vector<double> times;
  for (const json& run : benchmark["runs"]) times.push_back(run["timed_ns"].get<double>());
  return times;
}

std::string schemaError(const json& document, const std::string& path) {
  if (!document.is_object() || !document.contains("context") || !document.contains("benchmarks") ||
      !document["benchmarks"].is_array()) {
    return path + " is not a lubench-report document (no context and benchmarks)";
  }
  const json& version = document["context"]["json_schema_version"];
  if (!version.is_number_integer() || version.get<int>() != kJsonSchemaVersion) {
    return path + " has JSON schema version " + describe(version) + "; this compare reads version " +
           std::to_string(kJsonSchemaVersion);
  }
  return {};
}

}  // namespace

ComparisonResult compareDocuments(const json& oldDocument, const std::string& oldPath,
                                  const json& newDocument, const std::string& newPath) {
  ComparisonResult result;
  for (const auto& [document, path] : {std::pair{&oldDocument, &oldPath}, {&newDocument, &newPath}}) {
    result.error = schemaError(*document, *path);
    if (!result.error.empty()) return result;
  }
  Comparison c;
  c.oldPath = oldPath;
  c.newPath = newPath;
  for (const char* key : kComparedContextKeys) {
    const json& before = oldDocument["context"].value(key, json());
    const json& after = newDocument["context"].value(key, json());
    if (before != after) c.contextDifferences.push_back({key, describe(before), describe(after)});
  }
  const auto oldBenchmarks = benchmarksOf(oldDocument);
  const auto newBenchmarks = benchmarksOf(newDocument);
  double logSum = 0;
  for (const auto& [key, oldBenchmark] : oldBenchmarks) {
    const auto found = newBenchmarks.find(key);
    if (found == newBenchmarks.end()) {
      c.onlyInOld.push_back(combinationName(key.first, key.second));
      continue;
    }
    const json& newBenchmark = *found->second;
    const std::vector<double> before = timesOf(*oldBenchmark), after = timesOf(newBenchmark);
    if (before.empty() || after.empty()) continue;
    ComparedRow row;
    row.n = key.first;
    row.block = key.second;
    row.oldMedian = spreadOf(before).median;
    row.newMedian = spreadOf(after).median;
    row.change = row.newMedian / row.oldMedian - 1;
    row.pValue = mannWhitney(before, after).pValue;
    row.oldRuns = static_cast<int>(before.size());
    row.newRuns = static_cast<int>(after.size());
    row.verdict = row.pValue >= kSignificance ? "same" : row.change > 0 ? "slower" : "faster";
    logSum += std::log(row.newMedian / row.oldMedian);
    if (row.oldRuns < kComparisonRunsWanted || row.newRuns < kComparisonRunsWanted) {
      c.warnings.push_back(combinationName(row.n, row.block) + ": " + std::to_string(row.oldRuns) +
                           " and " + std::to_string(row.newRuns) + " timed runs, fewer than " +
                           std::to_string(kComparisonRunsWanted) +
                           " on a side: the test can hardly tell a change from noise");
    }
    // The same input must give the same bytes on every build and machine.
    if ((*oldBenchmark)["seed"] == newBenchmark["seed"] &&
        (*oldBenchmark)["fingerprint"] != newBenchmark["fingerprint"]) {
      c.fingerprintMismatches.push_back(
          combinationName(row.n, row.block) + ", seed " + describe((*oldBenchmark)["seed"]) + ": " +
          describe((*oldBenchmark)["fingerprint"]) + " in " + oldPath + ", " +
          describe(newBenchmark["fingerprint"]) + " in " + newPath);
    }
    c.rows.push_back(row);
  }
  for (const auto& [key, benchmark] : newBenchmarks) {
    if (!oldBenchmarks.contains(key)) c.onlyInNew.push_back(combinationName(key.first, key.second));
  }
  if (c.rows.empty()) {
    result.error = "no combination of n and block with timed runs in both " + oldPath + " and " +
                   newPath;
    return result;
  }
  c.geometricMeanRatio = std::exp(logSum / static_cast<double>(c.rows.size()));
  result.comparison = std::move(c);
  return result;
}

int comparisonStatus(const std::vector<Comparison>& comparisons,
                     std::optional<double> failAbovePercent) {
  for (const Comparison& c : comparisons) {
    if (!c.fingerprintMismatches.empty()) return kStatusFingerprintMismatch;
  }
  if (!failAbovePercent) return 0;
  for (const Comparison& c : comparisons) {
    for (const ComparedRow& row : c.rows) {
      if (row.verdict == "slower" && 100 * row.change > *failAbovePercent) return kStatusSlowdown;
    }
  }
  return 0;
}
