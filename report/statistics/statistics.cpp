#include "statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "verification.hpp"

namespace {

// The median of sorted values: the mean of the two middle ones for an even count.
double medianOfSorted(const std::vector<double>& sorted) {
  const std::size_t middle = sorted.size() / 2;
  return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

}  // namespace

Spread spreadOf(std::vector<double> values) {
  Spread spread;
  if (values.empty()) return spread;
  // A NaN (a residual of a broken solution) is the largest: it must never hide behind a finite
  // maximum.
  const bool anyNaN =
      std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); });
  std::erase_if(values, [](double v) { return std::isnan(v); });
  if (values.empty()) return Spread{NAN, NAN, NAN};
  std::sort(values.begin(), values.end());
  spread.min = values.front();
  spread.max = anyNaN ? NAN : values.back();
  spread.median = medianOfSorted(values);
  return spread;
}

namespace {

// The order statistics x(k) and x(n + 1 - k) (1-based) of n sorted values cover the median with
// probability 1 - 2 P(B <= k - 1), B binomial with n trials of probability 1/2. Returns the
// largest k <= n / 2 whose coverage is at least 95 %, with that coverage; k = 0 when even the
// extremes cover less (n < 6). The binomial terms are carried as logarithms, so that 2^-n does
// not underflow for thousands of runs, and summed from the tail in one pass.
std::pair<int, double> medianOrderStatistic(int n) {
  const double tail = 0.025;
  double logTerm = -n * std::log(2.0);  // log P(B = 0)
  double cumulative = 0;
  int k = 0;
  double coverage = 0;
  for (int i = 0; i + 1 <= n / 2; ++i) {
    cumulative += std::exp(logTerm);  // P(B <= i)
    if (cumulative > tail) break;
    k = i + 1;
    coverage = 1 - 2 * cumulative;
    logTerm += std::log(static_cast<double>(n - i)) - std::log(static_cast<double>(i + 1));
  }
  return {k, coverage};
}

}  // namespace

Distribution describe(const std::vector<double>& values) {
  Distribution d;
  d.spread = spreadOf(values);
  const std::size_t count = values.size();
  if (count == 0) return d;
  double sum = 0;
  for (double v : values) sum += v;
  d.mean = sum / static_cast<double>(count);
  if (count > 1) {
    double squares = 0;
    for (double v : values) squares += (v - d.mean) * (v - d.mean);
    d.stddev = std::sqrt(squares / static_cast<double>(count - 1));
  }
  d.cv = d.mean != 0 ? d.stddev / d.mean : 0;

  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  const int n = static_cast<int>(count);
  if (const auto [k, coverage] = medianOrderStatistic(n); k >= 1) {
    d.medianInterval = MedianInterval{sorted[k - 1], sorted[n - k], coverage};
  }

  const double median = d.spread.median;
  std::vector<double> deviations;
  for (double v : values) deviations.push_back(std::fabs(v - median));
  std::vector<double> sortedDeviations = deviations;
  std::sort(sortedDeviations.begin(), sortedDeviations.end());
  const double mad = medianOfSorted(sortedDeviations);
  d.mad = mad;
  double meanDeviation = 0;
  for (double deviation : deviations) meanDeviation += deviation / static_cast<double>(count);
  // Iglewicz and Hoaglin's score; with half the values equal the MAD is 0, and the mean absolute
  // deviation takes its place.
  const double scale = mad > 0 ? mad / 0.6745 : 1.253314 * meanDeviation;
  if (scale > 0 && n >= kMinimumOutlierRuns) {
    for (std::size_t i = 0; i < count; ++i) {
      if (deviations[i] / scale > 3.5) d.outliers.push_back(static_cast<int>(i));
    }
  }
  return d;
}

namespace {

template <class Field>
Spread spreadOfRuns(const std::vector<RunRecord>& runs, Field field) {
  std::vector<double> values;
  values.reserve(runs.size());
  for (const RunRecord& run : runs) values.push_back(static_cast<double>(field(run)));
  return spreadOf(std::move(values));
}

template <class Field>
Spread spreadOfLapack(const std::vector<RunRecord>& runs, Field field) {
  std::vector<double> values;
  for (const RunRecord& run : runs) {
    if (run.lapack) values.push_back(static_cast<double>(field(*run.lapack)));
  }
  return spreadOf(std::move(values));
}

}  // namespace

std::vector<KernelTrialSummary> summarizeKernelTrials(const std::vector<RunRecord>& runs) {
  std::vector<KernelTrialSummary> trials;
  for (std::size_t t = 0;; ++t) {
    KernelTrialSummary summary;
    std::vector<std::pair<std::string, std::vector<double>>> rates;
    for (const RunRecord& run : runs) {
      if (t >= run.kernelTrials.size()) continue;
      const KernelTrialRecord& trial = run.kernelTrials[t];
      summary.order = trial.order;
      ++summary.runs;
      auto chosen = std::find_if(summary.chosen.begin(), summary.chosen.end(),
                                 [&](const auto& entry) { return entry.first == trial.chosen; });
      if (chosen == summary.chosen.end()) {
        summary.chosen.emplace_back(trial.chosen, 1);
      } else {
        ++chosen->second;
      }
      for (const KernelTrialRecord::Candidate& candidate : trial.candidates) {
        auto rate = std::find_if(rates.begin(), rates.end(),
                                 [&](const auto& entry) { return entry.first == candidate.kernel; });
        if (rate == rates.end()) rate = rates.insert(rates.end(), {candidate.kernel, {}});
        rate->second.push_back(candidate.gflops);
      }
    }
    if (summary.runs == 0) return trials;
    for (auto& [kernel, values] : rates) {
      std::sort(values.begin(), values.end());
      summary.gflops.emplace_back(kernel, medianOfSorted(values));
    }
    trials.push_back(std::move(summary));
  }
}

Summary summarize(const CombinationRecord& record, const std::optional<PeakMeasurement>& peak) {
  const std::vector<RunRecord>& runs = record.runs;
  Summary s;
  std::vector<double> timed;
  for (const RunRecord& run : runs) timed.push_back(static_cast<double>(run.timedNanoseconds));
  s.timed = describe(timed);
  s.gflops = spreadOfRuns(runs, [](const RunRecord& r) { return r.gflops; });
  s.residual = spreadOfRuns(runs, [](const RunRecord& r) { return r.residual; });
  const double median = s.timed.spread.median;
  for (int step = 0; step < kLuStepCount; ++step) {
    s.steps[step] =
        spreadOfRuns(runs, [step](const RunRecord& r) { return r.stepNanoseconds[step]; });
    s.shareOfMedian[step] = median > 0 ? s.steps[step].median / median : 0.0;
  }
  s.solves = spreadOfRuns(runs, [](const RunRecord& r) { return r.solveNanoseconds; });
  s.shareOfMedian[kLuStepCount] = median > 0 ? s.solves.median / median : 0.0;

  s.residualsPassed =
      !runs.empty() && std::all_of(runs.begin(), runs.end(),
                                   [](const RunRecord& r) { return residualPassed(r.residual); });
  s.fingerprintsAgree = std::all_of(runs.begin(), runs.end(), [&](const RunRecord& r) {
    return r.fingerprint == runs.front().fingerprint;
  });
  if (!runs.empty()) {
    s.fingerprint = runs.back().fingerprint;
    s.singularColumns = runs.back().singularColumns;
  }
  if (peak && peak->gflops > 0) s.efficiency = s.gflops.median / peak->gflops;
  if (record.options.compareLapack) {
    LapackSummary lapack;
    lapack.timedNanoseconds =
        spreadOfLapack(runs, [](const LapackRecord& r) { return r.timedNanoseconds; });
    lapack.gflops = spreadOfLapack(runs, [](const LapackRecord& r) { return r.gflops; });
    lapack.residualMax = spreadOfLapack(runs, [](const LapackRecord& r) { return r.residual; }).max;
    if (lapack.timedNanoseconds.median > 0) {
      lapack.lubenchOverLapack = median / lapack.timedNanoseconds.median;
    }
    s.lapack = lapack;
  }
  s.passed =
      s.residualsPassed && s.fingerprintsAgree && record.reference != ReferenceCheck::kDiffers;
  if (!record.copies.empty()) {
    s.copies = summarizeCopies(record, median, s.fingerprint);
    // Copies that disagree fail the combination as runs that disagree do.
    if (!s.copies->dissents.empty()) s.passed = false;
  }
  s.kernelTrials = summarizeKernelTrials(runs);
  return s;
}
