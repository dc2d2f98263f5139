#include "statistics.hpp"

#include <algorithm>
#include <cmath>

#include "verification.hpp"

Spread spreadOf(std::vector<double> values) {
  Spread spread;
  if (values.empty()) return spread;
  // A NaN (a residual of a broken solution) is the largest: it must never hide behind a finite
  // maximum.
  const bool anyNaN = std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); });
  std::erase_if(values, [](double v) { return std::isnan(v); });
  if (values.empty()) return Spread{NAN, NAN, NAN};
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  spread.min = values.front();
  spread.max = anyNaN ? NAN : values.back();
  spread.median =
      values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  return spread;
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

Summary summarize(const CombinationRecord& record, const std::optional<PeakMeasurement>& peak) {
  const std::vector<RunRecord>& runs = record.runs;
  Summary s;
  s.timedNanoseconds = spreadOfRuns(runs, [](const RunRecord& r) { return r.timedNanoseconds; });
  s.gflops = spreadOfRuns(runs, [](const RunRecord& r) { return r.gflops; });
  s.residual = spreadOfRuns(runs, [](const RunRecord& r) { return r.residual; });
  const double median = s.timedNanoseconds.median;
  for (int step = 0; step < kLuStepCount; ++step) {
    s.steps[step] = spreadOfRuns(runs, [step](const RunRecord& r) { return r.stepNanoseconds[step]; });
    s.shareOfMedian[step] = median > 0 ? s.steps[step].median / median : 0.0;
  }
  s.solves = spreadOfRuns(runs, [](const RunRecord& r) { return r.solveNanoseconds; });
  s.shareOfMedian[kLuStepCount] = median > 0 ? s.solves.median / median : 0.0;

  s.residualsPassed = !runs.empty() && std::all_of(runs.begin(), runs.end(), [](const RunRecord& r) {
                        return residualPassed(r.residual);
                      });
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
  s.passed = s.residualsPassed && s.fingerprintsAgree &&
             record.reference != ReferenceCheck::kDiffers;
  return s;
}
