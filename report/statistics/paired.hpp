#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ab_records.hpp"
#include "statistics.hpp"

// The statistics of paired runs: each pair one run of the old build and one of the new, made
// back to back, so that the machine's drift between pairs falls out of their ratio.

enum class Verdict { kFaster, kSlower, kSame };
// "faster", "slower", "same".
const char* verdictText(Verdict verdict);

// p to three significant digits, or to as many more as it takes for the text to fall on the
// same side of level as p itself (0.04996 against 0.05 is "0.04996", never "0.05").
std::string pValueText(double p, double level);

// The Wilcoxon signed-rank test of differences against a centre of 0 (zeros dropped).
struct SignedRank {
  double pValue = 1;   // two-sided
  bool exact = false;  // from the exact distribution, else the normal approximation
};
// Exact for up to kExactSignedRanks differences without tied magnitudes; otherwise the normal
// approximation with the tie correction and a continuity correction.
inline constexpr int kExactSignedRanks = 60;
SignedRank wilcoxonSignedRank(const std::vector<double>& differences);

// The per-pair ratios after[i] / before[i]: their median with its distribution-free interval
// (statistics.hpp's order statistics; none below kMinimumIntervalRuns pairs), the signed-rank
// test on their logarithms, and the verdict: slower when the interval lies above 1, faster when
// below, else the same.
struct PairedRatio {
  double median = 1;
  std::optional<MedianInterval> interval;
  SignedRank test;
  Verdict verdict = Verdict::kSame;
};
PairedRatio pairedRatio(const std::vector<double>& before, const std::vector<double>& after);

// The same runs taken as two independent samples: the Hodges–Lehmann estimate of the ratio
// after / before (the median of every ratio after[j] / before[i]) and its interval by the
// Mann–Whitney critical value, covering at least wanted (exact up to kExactPairs pairs of runs,
// else the normal approximation). Too few runs cannot reach wanted: the widest interval, from
// the smallest ratio to the largest, then covers 1 - 2 / C(m + n, m) (2 and 2 runs: 67 %, 3 and
// 3: 90 %), and reachesWanted is false. Nothing for fewer than 2 runs a side.
struct RatioInterval {
  double estimate = 1;
  double low = 1;
  double high = 1;
  double confidence = 0;
  bool reachesWanted = true;
};
std::optional<RatioInterval> independentRatio(const std::vector<double>& before,
                                              const std::vector<double>& after,
                                              double wanted = 0.95);

// A side's drift over the session: the median of its last ceil(k / 3) runs over the median of its
// first ceil(k / 3), runs in the order they ran. 1 for fewer than 2 runs.
double drift(const std::vector<double>& inRunOrder);
// Drift beyond this share either way is warned of.
inline constexpr double kDriftWarning = 0.05;

// One combination of an A/B session, summarised.
struct AbCombinationSummary {
  int n = 0;
  int block = 0;
  int pairs = 0;
  double oldMedian = 0;  // ns
  double newMedian = 0;
  PairedRatio ratio;  // of the timed regions
  std::optional<RatioInterval> independent;
  // The paired ratio of every step both sides timed in every pair, in the old side's key order.
  std::vector<std::pair<std::string, PairedRatio>> steps;
  double oldDrift = 1;
  double newDrift = 1;
  std::vector<std::string> warnings;
};

struct AbSummary {
  std::vector<AbCombinationSummary> combinations;
  double geometricMeanRatio = 1;  // of the median pair ratios over the combinations
};

AbSummary summarizeAb(const AbSessionRecord& session);
