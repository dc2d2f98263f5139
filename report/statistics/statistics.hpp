#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "measurement.hpp"
#include "records.hpp"

// The statistics of one combination, computed once from its records; the reporters only format
// them.

struct Spread {
  double min = 0;
  double median = 0;  // the mean of the two middle values for an even count
  double max = 0;
};
// All zero for no values.
Spread spreadOf(std::vector<double> values);

// A distribution-free confidence interval of the median: order statistics low and high of the
// sorted values, which cover the median with probability confidence >= 95 % for any continuous
// distribution.
struct MedianInterval {
  double low = 0;
  double high = 0;
  double confidence = 0;
};

// Spread, moments and outliers of one quantity over the runs.
struct Distribution {
  Spread spread;
  double mean = 0;
  double stddev = 0;  // sample standard deviation (n - 1); 0 for one value
  double cv = 0;      // stddev / mean; 0 when the mean is 0
  std::optional<MedianInterval> medianInterval;  // none for fewer than kMinimumIntervalRuns
  // Indices of the values whose modified Z-score |0.6745 (x - median) / MAD| exceeds 3.5 (with
  // the mean absolute deviation, scaled by 1.2533, when the MAD is 0); flagged, never dropped;
  // none below kMinimumOutlierRuns, where the MAD says too little.
  std::vector<int> outliers;
};
inline constexpr int kMinimumIntervalRuns = 6;  // 1 - 2 * 2^-5 falls short of 95 % below it
inline constexpr int kMinimumOutlierRuns = 5;
Distribution describe(const std::vector<double>& values);

struct LapackSummary {
  Spread timedNanoseconds;
  Spread gflops;
  double residualMax = 0;        // NaN when any residual is NaN
  double lubenchOverLapack = 0;  // lubench's median time over LAPACK's, 0 when LAPACK took none
};

struct Summary {
  Distribution timed;  // of the timed regions' nanoseconds
  Spread gflops;
  Spread residual;                           // max is NaN when any run's residual is NaN
  std::array<Spread, kLuStepCount> steps{};  // indexed by LuStep
  Spread solves;
  // Each step's median, then the solves', as a share of the median timed region.
  std::array<double, kLuStepCount + 1> shareOfMedian{};
  bool residualsPassed = false;
  bool fingerprintsAgree = false;
  unsigned long long fingerprint = 0;  // the last run's
  int singularColumns = 0;             // the last run's
  std::optional<double> efficiency;    // median rate over the measured peak
  std::optional<LapackSummary> lapack;
  bool passed = false;  // residuals, fingerprints and the reference check all good
  // What makes the figures less sure: a noisy machine, too few runs (quietness.hpp).
  std::vector<std::string> warnings;
};

// record.runs must not be empty; peak is the sweep's measured peak, if any.
Summary summarize(const CombinationRecord& record, const std::optional<PeakMeasurement>& peak);
