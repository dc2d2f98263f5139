#pragma once

#include <array>
#include <optional>
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

struct LapackSummary {
  Spread timedNanoseconds;
  Spread gflops;
  double residualMax = 0;  // NaN when any residual is NaN
  double lubenchOverLapack = 0;  // lubench's median time over LAPACK's, 0 when LAPACK took none
};

struct Summary {
  Spread timedNanoseconds;
  Spread gflops;
  Spread residual;  // max is NaN when any run's residual is NaN
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
};

// record.runs must not be empty; peak is the sweep's measured peak, if any.
Summary summarize(const CombinationRecord& record, const std::optional<PeakMeasurement>& peak);
