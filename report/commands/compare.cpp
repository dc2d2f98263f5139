#include "compare.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "mann_whitney.hpp"
#include "statistics.hpp"

namespace {

// The context keys whose difference explains a difference in the figures. The build is told by
// the vector paths and kernels it holds; the path and kernel the runs chose are the rows' own.
const char* const kComparedContextKeys[] = {
    "host_name",        "cpu_model",     "cpu_family",       "cpu_model_number",  "compiler",
    "compiler_version", "compile_flags", "instruction_sets", "vector_paths",      "fixed_kernel",
    "lubench_version",  "git_commit",    "git_dirty",        "library_build_type"};

std::string contextValue(const SavedDocument& document, const char* key) {
  // As one line of names, which an older document's one vector_path stands in for.
  if (std::strcmp(key, "vector_paths") == 0) {
    return document.heldPaths.empty() ? "(none)" : document.heldPaths;
  }
  const auto found = document.context.find(key);
  return found == document.context.end() ? "(none)" : found->second;
}

// "avx512, pipelined_3x4v8"; "?" for what a document does not say.
std::string ranText(const std::string& path, const std::string& kernel) {
  return (path.empty() ? "?" : path) + ", " + (kernel.empty() ? "?" : kernel);
}

// count evenly spaced quantiles of sorted (its own values when it has no more than count).
std::vector<double> quantiles(const std::vector<double>& sorted, int count) {
  if (sorted.size() <= static_cast<std::size_t>(count)) return sorted;
  std::vector<double> out;
  for (int k = 0; k < count; ++k) {
    const double position = (k + 0.5) / count * static_cast<double>(sorted.size());
    out.push_back(sorted[static_cast<std::size_t>(position)]);
  }
  return out;
}

// Significant changes take their direction from the shift, and from the U statistic when the
// shift is exactly zero (samples with many equal values).
Verdict verdictOf(const ComparedRow& row, const MannWhitney& test) {
  if (row.pValue >= kSignificance) return Verdict::kSame;
  if (row.shift > 0) return Verdict::kSlower;
  if (row.shift < 0) return Verdict::kFaster;
  // test.u counts pairs with old > new: above half of all pairs, the new runs tend to be shorter.
  const double half = 0.5 * row.oldRuns * static_cast<double>(row.newRuns);
  if (test.u > half) return Verdict::kFaster;
  if (test.u < half) return Verdict::kSlower;
  return Verdict::kSame;
}

}  // namespace

double hodgesLehmannShift(const std::vector<double>& before, const std::vector<double>& after) {
  if (before.empty() || after.empty()) return 0;
  std::vector<double> x = before, y = after;
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  if (x.size() * y.size() > kExactShiftPairs) {
    x = quantiles(x, kShiftQuantiles);
    y = quantiles(y, kShiftQuantiles);
  }
  std::vector<double> differences;
  differences.reserve(x.size() * y.size());
  for (double b : x) {
    for (double a : y) differences.push_back(a - b);
  }
  return spreadOf(std::move(differences)).median;
}

ComparisonResult compareDocuments(const SavedDocument& before, const SavedDocument& after,
                                  double noisePercent) {
  ComparisonResult result;
  Comparison c;
  c.noisePercent = noisePercent;
  c.oldPath = before.path;
  c.newPath = after.path;
  c.oldContext = before.contextText;
  c.newContext = after.contextText;
  for (const char* key : kComparedContextKeys) {
    const std::string oldValue = contextValue(before, key), newValue = contextValue(after, key);
    if (oldValue != newValue) c.contextDifferences.push_back({key, oldValue, newValue});
  }
  using Key = std::tuple<int, int, std::string>;
  const auto keyOf = [](const SavedCombination& c) { return Key{c.n, c.block, c.kernelOption}; };
  std::map<Key, const SavedCombination*> newByKey;
  for (const SavedCombination& combination : after.combinations) {
    newByKey[keyOf(combination)] = &combination;
  }
  double logSum = 0;
  for (const SavedCombination& old : before.combinations) {
    const auto found = newByKey.find(keyOf(old));
    if (found == newByKey.end()) {
      c.onlyInOld.push_back(combinationName(old));
      continue;
    }
    const SavedCombination& now = *found->second;
    newByKey.erase(found);
    ComparedRow row;
    row.n = old.n;
    row.block = old.block;
    row.kernelOption = old.kernelOption;
    row.oldPath = old.vectorPath;
    row.oldKernel = old.kernel;
    row.newPath = now.vectorPath;
    row.newKernel = now.kernel;
    if (row.oldPath != row.newPath || row.oldKernel != row.newKernel) {
      c.ranDifferences.push_back(combinationName(old) + ": " + ranText(row.oldPath, row.oldKernel) +
                                 " -> " + ranText(row.newPath, row.newKernel));
    }
    row.oldMedian = spreadOf(old.timedNanoseconds).median;
    row.newMedian = spreadOf(now.timedNanoseconds).median;
    row.change = row.newMedian / row.oldMedian - 1;
    row.shift = hodgesLehmannShift(old.timedNanoseconds, now.timedNanoseconds);
    row.shiftShare = row.shift / row.oldMedian;
    const MannWhitney test = mannWhitney(old.timedNanoseconds, now.timedNanoseconds);
    row.pValue = test.pValue;
    row.pExact = test.exact;
    row.oldRuns = static_cast<int>(old.timedNanoseconds.size());
    row.newRuns = static_cast<int>(now.timedNanoseconds.size());
    row.verdict = verdictOf(row, test);
    row.ratio = independentRatio(old.timedNanoseconds, now.timedNanoseconds);
    row.oldSeed = old.seed;
    row.newSeed = now.seed;
    // A shift the sessions' own noise could make is not a change, however sure the test is.
    if (row.verdict != Verdict::kSame && !exceedsPercent(std::fabs(row.shiftShare), noisePercent)) {
      row.verdict = Verdict::kSame;
      row.withinNoise = true;
    }
    logSum += std::log(row.newMedian / row.oldMedian);
    if (row.oldRuns < kComparisonRunsWanted || row.newRuns < kComparisonRunsWanted) {
      c.warnings.push_back(combinationName(old) + ": " + std::to_string(row.oldRuns) + " and " +
                           std::to_string(row.newRuns) + " timed runs, fewer than " +
                           std::to_string(kComparisonRunsWanted) +
                           " on a side: the test can hardly tell a change from noise");
    }
    // The same input must give the same bytes on every build and machine.
    if (old.seed == now.seed && old.fingerprint != now.fingerprint) {
      c.fingerprintMismatches.push_back(combinationName(old) + ", seed " +
                                        std::to_string(old.seed) + ": " + old.fingerprint + " in " +
                                        before.path + ", " + now.fingerprint + " in " + after.path);
    }
    c.rows.push_back(row);
  }
  for (const SavedCombination& combination : after.combinations) {
    if (newByKey.contains(keyOf(combination))) c.onlyInNew.push_back(combinationName(combination));
  }
  if (c.rows.empty()) {
    result.error = "no combination of n, block and kernel with timed runs in both " + before.path +
                   " and " + after.path;
    return result;
  }
  c.geometricMeanRatio = std::exp(logSum / static_cast<double>(c.rows.size()));
  result.comparison = std::move(c);
  return result;
}

bool exceedsPercent(double share, double percent) {
  // As the tables print it, to a tenth of a per cent, so that a shift shown as +10.0 % is never
  // more than 10: 0.1 * 100 is 10.000000000000002.
  const double shown = std::nearbyint(1000 * share) / 10;
  return shown > percent + 1e-9;
}

int comparisonStatus(const std::vector<Comparison>& comparisons,
                     std::optional<double> failAbovePercent) {
  for (const Comparison& c : comparisons) {
    if (!c.fingerprintMismatches.empty()) return kStatusFingerprintMismatch;
  }
  if (!failAbovePercent) return 0;
  for (const Comparison& c : comparisons) {
    for (const ComparedRow& row : c.rows) {
      if (row.verdict == Verdict::kSlower && exceedsPercent(row.shiftShare, *failAbovePercent)) {
        return kStatusSlowdown;
      }
    }
  }
  return 0;
}

std::optional<double> parseFailAbove(const std::string& text) {
  const std::size_t digits =
      std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  const std::size_t points = std::count(text.begin(), text.end(), '.');
  if (digits == 0 || points > 1 || digits + points != text.size()) return std::nullopt;
  // By hand rather than strtod, which would follow the locale's decimal separator.
  double value = 0;
  double scale = 0;  // 0 before the point, then 0.1, 0.01, ...
  for (char c : text) {
    if (c == '.') {
      scale = 0.1;
    } else if (scale == 0) {
      value = 10 * value + (c - '0');
      if (value > kLargestFailAbove) return std::nullopt;
    } else {
      value += scale * (c - '0');
      scale /= 10;
    }
  }
  if (value > kLargestFailAbove) return std::nullopt;
  return value;
}
