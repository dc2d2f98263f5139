#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "build_info.hpp"
#include "launcher.hpp"
#include "machine_context.hpp"
#include "measurement.hpp"
#include "records.hpp"
#include "statistics.hpp"
#include "sweep_options.hpp"

// Reporters only format: told the sweep's context once, then each combination as it finishes,
// then how the sweep ended. Each call's text goes to the sink whole.

// Receives a document piece by piece, so that a report of many runs is never held whole.
using TextSink = std::function<void(std::string_view)>;

struct SweepContext {
  SweepOptions options;
  int combinations = 0;
  std::optional<PeakMeasurement> peak;
  std::string lapackLibrary;       // with --compare-lapack: the library and its kernel
  std::string date;                // ISO 8601 with the offset from UTC
  long long startNanoseconds = 0;  // monotonic clock at the start: runs' start times count from it
  std::string executable;
  std::optional<int> pinnedCpu;  // the only CPU the process may run on, if only one
  MachineContext machine;
  LauncherInfo launcher;  // the launcher that started this process as one rank of many, if any
  std::vector<std::string> warnings;  // before the runs (quietness.hpp)
  // --expect: the reference bands every combination is checked against (Summary::expectation);
  // none without it, and the outputs then show no band.
  std::optional<SavedExpectations> expectations{};
};

struct SweepEnd {
  enum class Kind { kComplete, kFailed, kInterrupted };
  Kind kind = Kind::kComplete;
  int signal = 0;  // kInterrupted: the signal
  int finished = 0;
  int total = 0;
  bool passed = false;  // every finished combination passed, and all of them finished
};

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void context(const SweepContext& context, const TextSink& sink) = 0;
  virtual void combination(const CombinationRecord& record, const Summary& summary,
                           const TextSink& sink) = 0;
  // Const, so that the runner can prepare the text for an interruption in advance.
  virtual void end(const SweepEnd& end, const TextSink& sink) const = 0;
};

// The report's views.
std::unique_ptr<Reporter> makeTableReporter(bool summaryOnly);
std::unique_ptr<Reporter> makeJsonReporter();
// The summary rows alone: a Markdown table (markdown) or CSV.
std::unique_ptr<Reporter> makeRowReporter(bool markdown);
// The view of a canonical format name (output_format.hpp): "text" the table (its summary rows
// alone with summaryOnly), "md" and "csv" the rows, "json" (and anything else) the document.
std::unique_ptr<Reporter> makeReporter(const std::string& format, bool summaryOnly);

// The header's short forms: "AMD EPYC (family 26, model 2), 2 logical CPUs, <date>" and
// "lubench 0.18.0 at <commit>, Release".
std::string machineSummary(const SweepContext& context);
std::string buildSummary();

// The path and kernel a combination's runs ran on (every run of a combination runs on the same:
// the first run's say which); what its options resolve to for records that do not say (records
// made by hand).
PathAndKernel ranOn(const CombinationRecord& record);
// The kernel that ran as the rows show it: "k1", or "k1 (auto)" when --kernel left it to the
// automatic choice (which may run a kernel that is also asked for by name).
std::string kernelLabel(const CombinationRecord& record);

// Everything a reporter writes for these calls, as one string (for tests and the signal texts).
std::string formatted(const std::function<void(const TextSink&)>& writing);
