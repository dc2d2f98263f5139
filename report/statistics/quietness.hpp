#pragma once

#include <optional>
#include <string>
#include <vector>

#include "machine_context.hpp"
#include "records.hpp"
#include "statistics.hpp"

// Whether the machine was quiet enough for the figures to mean much. Only warnings: nothing
// here changes the system.

// Before the runs: a frequency governor other than "performance", other runnable processes, a
// high load average.
std::vector<std::string> warningsBeforeRuns(const MachineContext& machine);

// During a combination's timed runs: involuntary context switches, counted around each timed
// region (a cheap system call), and time stolen by the hypervisor, read from /proc/stat once
// before the first timed run and once after the last.
class QuietnessMeter {
 public:
  explicit QuietnessMeter(std::string root = "") : root_(std::move(root)) {}
  void timedRunsStart();
  void timedRunsEnd();
  // Around each timed region, outside it.
  void runStarts();
  void runEnds();
  QuietnessRecord record() const { return record_; }

 private:
  std::string root_;
  long involuntaryBefore_ = 0;
  std::optional<long long> stealBefore_;
  QuietnessRecord record_;
};

// After a combination: what the meter saw (involuntary context switches more often than
// kNoisySwitchesPerSecond of timed time, any steal time), a coefficient of variation above 5 %, a
// maximum more than 10 % above the median, fewer than 5 timed runs, outliers.
std::vector<std::string> warningsAfterRuns(const CombinationRecord& record,
                                           const Distribution& timed);

inline constexpr double kNoisySwitchesPerSecond = 10;
inline constexpr double kNoisyCoefficientOfVariation = 0.05;
inline constexpr double kNoisyMaximumOverMedian = 1.10;
inline constexpr int kMinimumRunsForVariability = 5;
