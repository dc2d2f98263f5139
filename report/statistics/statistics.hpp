#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "expectations.hpp"
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
  double mad = 0;  // median absolute deviation from the median
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

// One copy of a combination run beside the others.
struct CopySummary {
  CpuPlace place;
  Spread timed;  // ns, of its timed runs; all zero when it made none
  double medianGflops = 0;
  unsigned long long fingerprint = 0;  // its last run's
  bool agrees = true;  // every run gave the fingerprint most copies gave (finished copies only)
  int signal = 0;      // the signal that ended it, or 0
  int exitStatus = 0;
  bool finished = false;
  // How a copy that did not finish ended: "killed by SIGKILL", "exited with status 70 without a
  // result", "wrote no result"; empty for a finished copy.
  std::string died;
};

// The copies of one combination set against each other and against the single copy. The
// figures are over the finished copies only, and empty when none finished.
struct CopiesSummary {
  std::vector<CopySummary> copies;
  std::optional<double> totalGflops;        // the finished copies' median rates added up
  std::optional<double> contentionRatio;    // the median copy's median time over the single copy's
  std::optional<double> slowestOverMedian;  // the slowest copy's median time over the median's
  // For each run, the time every copy was inside its timed region (the earliest end minus the
  // latest start) over the copies' median duration; the median of that over the runs.
  std::optional<double> overlap;
  std::vector<std::string> dissents;  // a copy, or the single copy, whose bytes differ
  std::vector<std::string> deaths;    // a copy that did not finish, and why
  std::vector<std::string> warnings;  // copies that hardly ran together
  int finishedCount() const;
};
// Copies overlapping less than this are warned of: they did not run together.
inline constexpr double kOverlapWarning = 0.9;

// The copies of record set against each other and against the single copy, whose median time
// and fingerprint are given. Only finished copies vote on the fingerprint and count in figures.
CopiesSummary summarizeCopies(const CombinationRecord& record, double singleMedian,
                              unsigned long long singleFingerprint);

// The kernel trials of a combination's runs, trial by trial (every run of a combination makes
// the same trials, at the same orders): how often each kernel was chosen there, and each
// candidate's median rate over the runs.
struct KernelTrialSummary {
  int order = 0;
  int runs = 0;                                          // runs that made this trial
  std::vector<std::pair<std::string, int>> chosen;       // kernel, times chosen
  std::vector<std::pair<std::string, double>> gflops;    // candidate, median rate
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
  std::optional<CopiesSummary> copies;  // with --copies
  std::vector<KernelTrialSummary> kernelTrials;  // trial by trial, when the runs tried kernels
  bool passed = false;  // residuals, fingerprints and the reference check all good
  // With --expect: the median rate against the band of the machine's CPU model, the path the
  // runs ran on, n and block (set by the sweep, which knows the machine). Outside it fails the
  // sweep with status 4, not the combination's checks.
  std::optional<BandCheck> expectation;
  // What makes the figures less sure: a noisy machine, too few runs (quietness.hpp).
  std::vector<std::string> warnings;
};

// Trial by trial over runs (see KernelTrialSummary); empty when no run tried kernels.
std::vector<KernelTrialSummary> summarizeKernelTrials(const std::vector<RunRecord>& runs);

// record.runs must not be empty; peak is the sweep's measured peak, if any.
Summary summarize(const CombinationRecord& record, const std::optional<PeakMeasurement>& peak);
