#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "block_loop.hpp"

// lubench-report: runs the benchmark's timed work (the same block loop and solves as lubench)
// and reports its time, the time of each step, HPL's scaled residual and a fingerprint of the
// factorisation.

struct ReportOptions {
  int n = 4096;
  int block = 32;
  unsigned seed = 0;
  bool seedGiven = false;  // false: seed is the calendar time, as lubench seeds its generator
  int repeat = 1;          // timed runs; one untimed warm-up run comes first when repeat > 1
  bool checkReference = false;
  bool compareLapack = false;  // each run is followed by LAPACK's on the same matrix
};

// HPL's acceptance bound: a run passes when its scaled residual is below it.
inline constexpr double kResidualBound = 16.0;

// LAPACK's factorisation and solve (dgetrf + dgetrs) of the same matrix and right-hand side,
// run right after one of lubench's runs.
struct LapackRecord {
  long long timedNanoseconds = 0;
  double gflops = 0;    // hplFlops(n) / its time
  double residual = 0;  // scaledResidual of its solution, NaN when it is not finite
  int info = 0;         // LAPACK's status: 0 on success
};

struct RunRecord {
  long long timedNanoseconds = 0;  // block loop and solves, exactly lubench's timed region
  std::array<long long, kLuStepCount> stepNanoseconds{};  // indexed by LuStep
  long long solveNanoseconds = 0;
  double gflops = 0;    // hplFlops(n) / timed region
  double residual = 0;  // scaledResidual of the solution, NaN when it is not finite
  int singularColumns = 0;
  unsigned long long fingerprint = 0;
  std::optional<LapackRecord> lapack;  // with compareLapack
};

enum class ReferenceCheck { kNotRequested, kIdentical, kDiffers };

struct Report {
  ReportOptions options;
  bool warmUp = false;
  std::vector<RunRecord> runs;
  ReferenceCheck reference = ReferenceCheck::kNotRequested;
  std::optional<double> peakGflops;  // the core's measured in-cache rate, when measured
  // The core's measured rate for fused multiply-adds, which libraries may use and lubench may
  // not, measured with the peak.
  std::optional<double> fusedPeakGflops;
  std::string lapackLibrary;  // with compareLapack: the library and its kernel
};

struct Spread {
  double min = 0;
  double median = 0;  // the mean of the two middle values for an even count
  double max = 0;
};
Spread spreadOf(std::vector<double> values);

// 2/3 n^3 + 3/2 n^2, the operation count HPL credits to a solve of order n.
double hplFlops(int n);
// r < kResidualBound; a NaN residual fails.
bool residualPassed(double residual);

// Bytes the report's buffers take for these options: the matrix, its copy and the scratch
// matrix, two more matrices for checkReference, the vectors, and the records of the runs. A
// double, since for absurd orders the count does not fit a size_t.
double bytesNeeded(const ReportOptions& options);
// The memory the kernel says is available to a new program without swapping (MemAvailable in
// /proc/meminfo), in bytes; nothing where it cannot be read.
std::optional<double> availableMemoryBytes();

// Prints on standard error and returns false when the buffers for options would exceed the
// available memory.
bool memoryFits(const ReportOptions& options);

// Runs options.repeat timed runs (after one warm-up when repeat > 1) and, if asked, the
// comparison with the plain scalar rendering. Every buffer is allocated before the first run;
// when the buffers would not fit in the available memory, nothing is allocated. Notes on slow
// work go to notes; with showProgress, a progress line (run, block, estimated time left) is
// rewritten on notes, which should then be a terminal. Returns nothing after reporting on
// standard error when the memory is short, a buffer cannot be allocated or the clock fails.
std::optional<Report> runReport(const ReportOptions& options, std::FILE* notes,
                                bool showProgress = false);

// True when every run's residual passed, every run gave the same fingerprint and the reference
// check, if asked for, found the factorisation identical.
bool reportPassed(const Report& report);
// 0 when the report passed, 2 otherwise.
int exitStatus(const Report& report);

// The instruction-set path and the compiler of this build.
std::string vectorPathDescription();
std::string compilerDescription();

// The tile kernel's rate on operands in the first-level cache, measured on this core now: the
// best of several tries within a fixed time. Separate multiplies and adds, as the factorisation
// does them; not a data-sheet figure.
struct PeakMeasurement {
  double gflops = 0;
  int tries = 0;
  double seconds = 0;      // time spent measuring
  double fusedGflops = 0;  // best rate of chains of fused multiply-adds
};
PeakMeasurement measurePeak(double maxSeconds);

// A sweep: every combination of the orders and blocks, each a report of its own.
struct SweepOptions {
  std::vector<int> orders{4096};
  std::vector<int> blocks{32};
  ReportOptions base;  // everything but n and block
  bool measurePeak = true;
};
struct Sweep {
  std::vector<Report> reports;  // orders outermost, then blocks, in the order given
  std::optional<PeakMeasurement> peak;
  bool listed = false;  // more than one combination was asked for
};

// Measures the peak (if asked), checks the memory of every combination before any run, then
// runs each combination as runReport does. Nothing when any report could not be made.
std::optional<Sweep> runSweep(const SweepOptions& options, std::FILE* notes, bool showProgress);
bool sweepPassed(const Sweep& sweep);
// 0 when every report passed, 2 otherwise.
int sweepExitStatus(const Sweep& sweep);

// A comma-separated list of distinct whole numbers in [1, largest], each in decimal digits.
struct ParsedList {
  std::vector<int> values;
  std::string error;  // empty when the list is good
};
ParsedList parseList(const std::string& text, int largest);

// Receives a document piece by piece, so that a report of many runs is never held whole.
using TextSink = std::function<void(std::string_view)>;

// The report as a table for people.
void writeTable(const Report& report, const TextSink& sink);
std::string formatTable(const Report& report);
// The report as one JSON object, written one run at a time.
void writeJson(const Report& report, const TextSink& sink);
// The summary row of each combination, then (unless summaryOnly) each report's table.
void writeSweepTable(const Sweep& sweep, bool summaryOnly, const TextSink& sink);
// One combination: its report's object; several: an array of them.
void writeSweepJson(const Sweep& sweep, const TextSink& sink);
// The same document parsed back.
nlohmann::ordered_json toJson(const Report& report);

// While it lives, standard output (the file descriptor, so C and C++ streams alike) goes to
// standard error: the singular-pivot messages the factorisation prints cannot then mix with a
// JSON document written to standard output afterwards.
// If the descriptors cannot be duplicated, active() is false and nothing is diverted.
class StandardOutputDiversion {
 public:
  StandardOutputDiversion();
  ~StandardOutputDiversion();
  bool active() const { return saved_ >= 0; }
  StandardOutputDiversion(const StandardOutputDiversion&) = delete;
  StandardOutputDiversion& operator=(const StandardOutputDiversion&) = delete;

 private:
  int saved_ = -1;
};
