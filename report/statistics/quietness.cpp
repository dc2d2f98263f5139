#include "quietness.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "text_format.hpp"

namespace {

long involuntarySwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nivcsw;
}

}  // namespace

std::vector<std::string> warningsBeforeRuns(const MachineContext& machine) {
  std::vector<std::string> warnings;
  if (machine.governor && *machine.governor != "performance") {
    warnings.push_back("the CPU frequency governor is '" + *machine.governor +
                       "', not 'performance': the clock rate may change during the runs");
  }
  // The count includes this process.
  if (machine.runnable && *machine.runnable > 1) {
    const int others = *machine.runnable - 1;
    warnings.push_back(formatText("%d other process%s runnable as the report started", others,
                                  others == 1 ? " was" : "es were"));
  }
  if (machine.loadAverage && (*machine.loadAverage)[0] >= 1.0) {
    warnings.push_back(
        formatText("the load average over the last minute is %.2f: other work shares "
                   "this machine",
                   (*machine.loadAverage)[0]));
  }
  return warnings;
}

void QuietnessMeter::timedRunsStart() {
  stealBefore_ = stolenJiffies(root_);
}

void QuietnessMeter::timedRunsEnd() {
  const std::optional<long long> steal = stolenJiffies(root_);
  if (steal && stealBefore_) {
    record_.stolenSeconds =
        static_cast<double>(*steal - *stealBefore_) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
}

void QuietnessMeter::runStarts() {
  involuntaryBefore_ = involuntarySwitches();
}

void QuietnessMeter::runEnds() {
  record_.involuntarySwitches += involuntarySwitches() - involuntaryBefore_;
}

std::vector<std::string> warningsAfterRuns(const CombinationRecord& record,
                                           const Distribution& timed) {
  std::vector<std::string> warnings;
  const int runs = static_cast<int>(record.runs.size());
  const QuietnessRecord& quiet = record.quietness;
  // The kernel's own housekeeping preempts a process now and then; more often than
  // kNoisySwitchesPerSecond during the timed regions means other work shared this core.
  double timedSeconds = 0;
  for (const RunRecord& run : record.runs) timedSeconds += run.timedNanoseconds * 1e-9;
  if (quiet.involuntarySwitches > 0 &&
      quiet.involuntarySwitches > kNoisySwitchesPerSecond * timedSeconds) {
    warnings.push_back(formatText(
        "%ld involuntary context switch%s in %.3f s of timed runs: other "
        "work took this core",
        quiet.involuntarySwitches, quiet.involuntarySwitches == 1 ? "" : "es", timedSeconds));
  }
  if (quiet.stolenSeconds && *quiet.stolenSeconds > 0) {
    warnings.push_back(
        formatText("the hypervisor took %.3f s from this machine's CPUs during the "
                   "timed runs",
                   *quiet.stolenSeconds));
  }
  if (runs < kMinimumRunsForVariability) {
    warnings.push_back(
        formatText("%d timed run%s: too few to estimate the variability (use "
                   "--repeat %d or more)",
                   runs, runs == 1 ? "" : "s", kMinimumRunsForVariability));
    return warnings;
  }
  if (timed.cv > kNoisyCoefficientOfVariation) {
    warnings.push_back(
        formatText("the timed regions vary by %.1f %% (coefficient of variation, "
                   "above %.0f %%)",
                   100 * timed.cv, 100 * kNoisyCoefficientOfVariation));
  }
  if (timed.spread.max > kNoisyMaximumOverMedian * timed.spread.median) {
    warnings.push_back(formatText("the slowest run took %.0f %% longer than the median",
                                  100 * (timed.spread.max / timed.spread.median - 1)));
  }
  if (!timed.outliers.empty()) {
    warnings.push_back(formatText("%zu run%s flagged as outlier%s (modified Z-score above 3.5)",
                                  timed.outliers.size(), timed.outliers.size() == 1 ? "" : "s",
                                  timed.outliers.size() == 1 ? "" : "s"));
  }
  return warnings;
}
