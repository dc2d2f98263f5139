#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// lubench-report compare: saved JSON documents set against the first, combination by
// combination (matched by n and block), with the Mann–Whitney U test telling noise from change.

// Significance level of the verdicts.
inline constexpr double kSignificance = 0.05;
// Fewer timed runs than this on a side gets a warning: the test then has little power.
inline constexpr int kComparisonRunsWanted = 9;
// Exit statuses beside 0 and the usage status.
inline constexpr int kStatusFingerprintMismatch = 3;
inline constexpr int kStatusSlowdown = 4;

struct ComparedRow {
  int n = 0;
  int block = 0;
  double oldMedian = 0;  // timed region, ns
  double newMedian = 0;
  double change = 0;  // new / old - 1
  double pValue = 1;
  int oldRuns = 0;
  int newRuns = 0;
  std::string verdict;  // "faster", "slower" or "same"
};

struct ContextDifference {
  std::string key;
  std::string oldValue;
  std::string newValue;
};

struct Comparison {
  std::string oldPath;
  std::string newPath;
  std::vector<ContextDifference> contextDifferences;
  std::vector<ComparedRow> rows;
  std::vector<std::string> onlyInOld;  // "n 4096, block 64"
  std::vector<std::string> onlyInNew;
  std::vector<std::string> fingerprintMismatches;
  std::vector<std::string> warnings;
  double geometricMeanRatio = 1;  // of new / old medians over the rows
};

// The comparison of two parsed documents; an error message instead when they cannot be compared
// (another schema version, no combination in common).
struct ComparisonResult {
  std::optional<Comparison> comparison;
  std::string error;
};
ComparisonResult compareDocuments(const nlohmann::json& oldDocument, const std::string& oldPath,
                                  const nlohmann::json& newDocument, const std::string& newPath);

// The exit status for these comparisons: fingerprint mismatch first, then a significant
// slowdown beyond failAbovePercent (when given), else 0.
int comparisonStatus(const std::vector<Comparison>& comparisons,
                     std::optional<double> failAbovePercent);

// "text", "md" or "json".
std::string formatComparisons(const std::vector<Comparison>& comparisons,
                              const std::string& format);

// The subcommand: argv[0] is "compare". Returns the exit status.
int runCompare(int argc, char** argv);
