#include "paired.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "labels.hpp"
#include "mann_whitney.hpp"
#include "text_format.hpp"

namespace {

// P(W+ <= w) for m ranks 1..m without ties: each rank is in the positive sum with probability
// 1/2, so the distribution is the convolution of the ranks' two-point distributions.
double signedRankAtMost(int m, double w) {
  const int top = m * (m + 1) / 2;
  std::vector<double> p(static_cast<std::size_t>(top) + 1, 0.0);
  p[0] = 1;
  for (int rank = 1; rank <= m; ++rank) {
    for (int k = top; k >= 0; --k) {
      p[k] = 0.5 * p[k] + (k >= rank ? 0.5 * p[k - rank] : 0.0);
    }
  }
  double sum = 0;
  for (int k = 0; k <= top && k <= w + 1e-9; ++k) sum += p[k];
  return std::min(sum, 1.0);
}

double median(std::vector<double> values) { return spreadOf(std::move(values)).median; }

// The standard normal distribution's quantile of probability p (0 < p < 1), by bisection.
double normalQuantile(double p) {
  double low = -40, high = 40;
  for (int i = 0; i < 200; ++i) {
    const double middle = (low + high) / 2;
    (0.5 * std::erfc(-middle / std::sqrt(2.0)) < p ? low : high) = middle;
  }
  return (low + high) / 2;
}

// The keys of run's step times: the block loop's steps and the solves in the order the step
// table shows them, then any others.
std::vector<std::string> stepKeysInTableOrder(const AbRun& run) {
  std::vector<std::string> known(std::begin(kLuStepKeys), std::end(kLuStepKeys));
  known.emplace_back(kSolvesKey);
  std::vector<std::string> keys;
  for (const std::string& key : known) {
    if (run.stepNanoseconds.contains(key)) keys.push_back(key);
  }
  for (const auto& [key, unused] : run.stepNanoseconds) {
    if (std::find(known.begin(), known.end(), key) == known.end()) keys.push_back(key);
  }
  return keys;
}

std::string percent(double ratio) { return formatText("%+.1f %%", 100 * (ratio - 1)); }

}  // namespace

const char* verdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kFaster:
      return "faster";
    case Verdict::kSlower:
      return "slower";
    case Verdict::kSame:
      break;
  }
  return "same";
}

std::string pValueText(double p, double level) {
  std::string text = formatText("%.3g", p);
  for (int digits = 4; digits <= 17 && (std::strtod(text.c_str(), nullptr) < level) != (p < level);
       ++digits) {
    text = formatText("%.*g", digits, p);
  }
  return text;
}

SignedRank wilcoxonSignedRank(const std::vector<double>& differences) {
  SignedRank result;
  std::vector<std::pair<double, bool>> magnitudes;  // |d|, positive
  for (double d : differences) {
    if (d != 0 && std::isfinite(d)) magnitudes.emplace_back(std::fabs(d), d > 0);
  }
  const int m = static_cast<int>(magnitudes.size());
  if (m == 0) return result;
  std::sort(magnitudes.begin(), magnitudes.end());
  double positiveRanks = 0, tieSum = 0;
  for (int i = 0; i < m;) {
    int j = i;
    while (j < m && magnitudes[j].first == magnitudes[i].first) ++j;
    const double meanRank = (i + 1 + j) / 2.0;
    for (int k = i; k < j; ++k) {
      if (magnitudes[k].second) positiveRanks += meanRank;
    }
    const double t = j - i;
    tieSum += t * t * t - t;
    i = j;
  }
  const double total = m * (m + 1) / 2.0;
  if (tieSum == 0 && m <= kExactSignedRanks) {
    // W+ is symmetric about total / 2: P(W+ >= w) = P(W+ <= total - w).
    const double lower = signedRankAtMost(m, positiveRanks);
    const double upper = signedRankAtMost(m, total - positiveRanks);
    result.pValue = std::min(1.0, 2 * std::min(lower, upper));
    result.exact = true;
    return result;
  }
  const double variance = m * (m + 1) * (2.0 * m + 1) / 24 - tieSum / 48;
  if (variance <= 0) return result;
  const double distance = std::max(0.0, std::fabs(positiveRanks - total / 2) - 0.5);
  result.pValue = std::min(1.0, std::erfc(distance / std::sqrt(variance) / std::sqrt(2.0)));
  return result;
}

PairedRatio pairedRatio(const std::vector<double>& before, const std::vector<double>& after) {
  PairedRatio result;
  const std::size_t count = std::min(before.size(), after.size());
  if (count == 0) return result;
  std::vector<double> ratios, logs;
  for (std::size_t i = 0; i < count; ++i) {
    ratios.push_back(after[i] / before[i]);
    logs.push_back(std::log(after[i] / before[i]));
  }
  const Distribution d = describe(ratios);
  result.median = d.spread.median;
  result.interval = d.medianInterval;
  result.test = wilcoxonSignedRank(logs);
  if (result.interval && result.interval->low > 1) result.verdict = Verdict::kSlower;
  if (result.interval && result.interval->high < 1) result.verdict = Verdict::kFaster;
  return result;
}

std::optional<RatioInterval> independentRatio(const std::vector<double>& before,
                                              const std::vector<double>& after, double wanted) {
  if (before.size() < 2 || after.size() < 2) return std::nullopt;
  std::vector<double> differences;
  for (double b : before) {
    for (double a : after) differences.push_back(std::log(a) - std::log(b));
  }
  std::sort(differences.begin(), differences.end());
  const double m = static_cast<double>(before.size()), n = static_cast<double>(after.size());
  const double pairs = m * n;
  // The Mann–Whitney critical count: the interval runs from the k-th smallest difference to the
  // k-th largest, and covers the shift with probability 1 - 2 P(U <= k - 1).
  RatioInterval result;
  std::size_t k = 1;
  const std::vector<double> cumulative =
      exactCumulative(static_cast<int>(before.size()), static_cast<int>(after.size()));
  if (!cumulative.empty()) {
    while (k < cumulative.size() && 1 - 2 * cumulative[k] >= wanted) ++k;
    result.confidence = 1 - 2 * cumulative[k - 1];
  } else {
    const double z = normalQuantile(0.5 + wanted / 2);
    const double count = std::floor(pairs / 2 - z * std::sqrt(pairs * (m + n + 1) / 12));
    // So many runs reach any coverage asked for well inside the samples.
    k = count < 1 ? 1 : static_cast<std::size_t>(count);
    result.confidence = wanted;
  }
  result.reachesWanted = result.confidence >= wanted - 1e-12;
  const std::size_t index = k - 1;
  result.estimate = std::exp(median(differences));
  result.low = std::exp(differences[index]);
  result.high = std::exp(differences[differences.size() - 1 - index]);
  return result;
}

double drift(const std::vector<double>& inRunOrder) {
  const std::size_t count = inRunOrder.size();
  if (count < 2) return 1;
  const std::size_t third = (count + 2) / 3;
  const std::vector<double> first(inRunOrder.begin(), inRunOrder.begin() + third);
  const std::vector<double> last(inRunOrder.end() - third, inRunOrder.end());
  return median(last) / median(first);
}

AbSummary summarizeAb(const AbSessionRecord& session) {
  AbSummary summary;
  double logSum = 0;
  for (const AbCombinationRecord& record : session.combinations) {
    AbCombinationSummary c;
    c.n = record.n;
    c.block = record.block;
    c.pairs = static_cast<int>(record.pairs.size());
    std::vector<double> oldTimes, newTimes;
    for (const AbPair& pair : record.pairs) {
      oldTimes.push_back(pair.oldRun.timedNanoseconds);
      newTimes.push_back(pair.newRun.timedNanoseconds);
    }
    c.oldMedian = median(oldTimes);
    c.newMedian = median(newTimes);
    c.ratio = pairedRatio(oldTimes, newTimes);
    // At the paired interval's own coverage, so that their widths can be set side by side.
    c.independent = independentRatio(
        oldTimes, newTimes, c.ratio.interval ? c.ratio.interval->confidence : 0.95);
    c.oldDrift = drift(oldTimes);
    c.newDrift = drift(newTimes);
    if (!record.pairs.empty()) {
      // Steps both sides timed in every pair, with some time on the old side, in the step
      // table's order.
      for (const std::string& key : stepKeysInTableOrder(record.pairs.front().oldRun)) {
        std::vector<double> before, after;
        for (const AbPair& pair : record.pairs) {
          const auto o = pair.oldRun.stepNanoseconds.find(key);
          const auto a = pair.newRun.stepNanoseconds.find(key);
          if (o == pair.oldRun.stepNanoseconds.end() || a == pair.newRun.stepNanoseconds.end() ||
              !(o->second > 0) || !(a->second > 0)) {
            break;
          }
          before.push_back(o->second);
          after.push_back(a->second);
        }
        if (before.size() == record.pairs.size()) {
          c.steps.emplace_back(key, pairedRatio(before, after));
        }
      }
    }
    if (c.pairs < kMinimumIntervalRuns) {
      c.warnings.push_back(std::to_string(c.pairs) + " pair" + (c.pairs == 1 ? "" : "s") +
                           ", fewer than " + std::to_string(kMinimumIntervalRuns) +
                           ": no interval, and no verdict but \"same\"");
    }
    for (const auto& [side, value] : {std::pair{"old", c.oldDrift}, std::pair{"new", c.newDrift}}) {
      if (std::fabs(value - 1) > kDriftWarning) {
        c.warnings.push_back(std::string("the ") + side + " build's runs drifted " +
                             percent(value) +
                             " from the first third of the session to the last: the machine "
                             "changed while it ran");
      }
    }
    logSum += std::log(c.ratio.median);
    summary.combinations.push_back(std::move(c));
  }
  if (!summary.combinations.empty()) {
    summary.geometricMeanRatio =
        std::exp(logSum / static_cast<double>(summary.combinations.size()));
  }
  return summary;
}
