#include "report.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "kernel_rate.hpp"
#include "lapack_peer.hpp"
#include "linalg.hpp"
#include "matrix_index.hpp"
#include "project.hpp"
#include "scalar_reference.hpp"
#include "simd.hpp"
#include "step_timer.hpp"
#include "verification.hpp"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

// A zeroed, aligned buffer of count entries, or null after reporting which buffer failed.
template <class T>
Buffer<T> allocate(std::size_t count, const char* what, int n) {
  auto* p = static_cast<T*>(allocateAlignedZeroed(count, sizeof(T)));
  if (p == nullptr) {
    std::fprintf(stderr, "lubench-report: cannot allocate the %s for --n %d (%zu x %zu bytes)\n",
                 what, n, count, sizeof(T));
  }
  return Buffer<T>(p);
}

// Every buffer of the report, allocated once before the first run and reused by every run; the
// reference buffers only when the comparison is asked for.
struct Workspace {
  Workspace(int n, bool withReference, bool withLapack)
      : entries(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)),
        a(allocate<double>(entries, "matrix A", n)),
        original(a ? allocate<double>(entries, "copy of the matrix", n) : nullptr),
        s(original ? allocate<double>(entries, "scratch product matrix", n) : nullptr),
        rhs(s ? allocate<double>(n, "right-hand side", n) : nullptr),
        x(rhs ? allocate<double>(n, "solution", n) : nullptr),
        perm(x ? allocate<int>(n, "permutation vector", n) : nullptr),
        referenceA(perm && withReference ? allocate<double>(entries, "reference matrix", n)
                                         : nullptr),
        referenceS(referenceA ? allocate<double>(entries, "reference scratch matrix", n) : nullptr),
        referencePerm(referenceS ? allocate<int>(n, "reference permutation", n) : nullptr),
        lapackA(perm && withLapack ? allocate<double>(entries, "LAPACK's matrix", n) : nullptr),
        lapackX(lapackA ? allocate<double>(n, "LAPACK's solution", n) : nullptr),
        lapackPivots(lapackX ? allocate<int>(n, "LAPACK's pivots", n) : nullptr),
        withReference_(withReference),
        withLapack_(withLapack) {}
  bool ready() const {
    return perm != nullptr && (!withReference_ || referencePerm != nullptr) &&
           (!withLapack_ || lapackPivots != nullptr);
  }

  std::size_t entries;
  Buffer<double> a, original, s, rhs, x;
  Buffer<int> perm;
  Buffer<double> referenceA, referenceS;
  Buffer<int> referencePerm;
  Buffer<double> lapackA, lapackX;
  Buffer<int> lapackPivots;

 private:
  bool withReference_;
  bool withLapack_;
};

// Shows, on a terminal, which run and block the report has reached and an estimate of the time
// left, rewriting one line at most four times a second. The estimate assumes the rate so far
// holds, counting each block's share of a run's arithmetic.
class ProgressDisplay {
 public:
  ProgressDisplay(std::FILE* out, const ReportOptions& options, int runs, const timespec& start)
      : out_(out),
        n_(options.n),
        block_(options.block),
        runs_(runs),
        start_(start),
        lastShown_(start) {
    blocksPerRun_ = static_cast<int>((static_cast<long long>(n_) + block_ - 1) / block_);
  }

  void startRun(int run) {
    run_ = run;
    blocksDone_ = 0;
  }

  // Called as each block of the current run finishes, with the clock reading at that moment.
  void blockFinished(const timespec& now) {
    ++blocksDone_;
    if (elapsedNanoseconds(lastShown_, now) < 250'000'000LL && blocksDone_ < blocksPerRun_) return;
    lastShown_ = now;
    const double end = std::min(static_cast<double>(blocksDone_) * block_, static_cast<double>(n_));
    const double left = (n_ - end) / n_;
    const double done = run_ + 1.0 - left * left * left;
    const double seconds = elapsedNanoseconds(start_, now) * 1e-9;
    const double remaining = done > 0 ? seconds * (runs_ - done) / done : 0.0;
    // More than one run means a warm-up run came first.
    const bool warmUp = runs_ > 1 && run_ == 0;
    std::fprintf(
        out_,
        "\r\033[Klubench-report: n %d, block %d: %s %d of %d, block %d of %d, about %.0f s "
        "left",
        n_, block_, warmUp ? "warm-up run" : "run", run_ + 1, runs_, blocksDone_, blocksPerRun_,
        remaining);
    std::fflush(out_);
    shown_ = true;
  }

  // Erases the line, so that what follows starts on a clean one.
  void clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
  }

 private:
  std::FILE* out_;
  int n_, block_, runs_;
  int blocksPerRun_ = 0;
  int run_ = 0;
  int blocksDone_ = 0;
  bool shown_ = false;
  timespec start_, lastShown_;
};

// The step timer of a run, telling the progress display (may be null) of each finished block.
struct RunObserver {
  StepTimer timer;
  ProgressDisplay* progress;
  void finished(LuStep step) {
    timer.finished(step);
    if (progress != nullptr && step == LuStep::kBlockRowOfU) {
      progress->blockFinished(timer.lastMark());
    }
  }
};

bool readClock(timespec& now) {
  if (clock_gettime(CLOCK_MONOTONIC, &now) == 0) return true;
  std::perror("lubench-report: cannot read the monotonic clock");
  return false;
}

// Generates the data as lubench does and keeps a copy of the matrix, all before the clock.
void prepare(Workspace& w, int n, unsigned seed) {
  randMatrixGenSeeded(w.a.get(), n, n, seed);
  std::memcpy(w.original.get(), w.a.get(), w.entries * sizeof(double));
  randMatrixGenB(w.rhs.get(), n);
  randMatrixGenpvt(w.perm.get(), n);
}

std::optional<RunRecord> runOnce(Workspace& w, const ReportOptions& options,
                                 ProgressDisplay* progress) {
  const int n = options.n;
  prepare(w, n, options.seed);
  RunRecord record;
  timespec start{};
  timespec end{};
  if (!readClock(start)) return std::nullopt;
  RunObserver observer{StepTimer(start), progress};
  record.singularColumns =
      runBlockedLu(w.a.get(), w.perm.get(), w.s.get(), n, options.block, observer);
  mydtsrsm(w.perm.get(), w.a.get(), w.rhs.get(), n);
  if (!readClock(end)) return std::nullopt;

  record.timedNanoseconds = elapsedNanoseconds(start, end);
  record.stepNanoseconds = observer.timer.nanoseconds();
  record.solveNanoseconds = elapsedNanoseconds(observer.timer.lastMark(), end);
  record.gflops = hplFlops(n) / static_cast<double>(std::max(record.timedNanoseconds, 1LL));
  // The same solve again, outside the timed region, keeping x for the residual.
  luSolve(w.perm.get(), w.a.get(), w.rhs.get(), n, w.x.get());
  record.residual = scaledResidual(w.original.get(), w.x.get(), w.rhs.get(), n);
  record.fingerprint = fingerprint(w.a.get(), w.perm.get(), n);
  return record;
}

// LAPACK's factorisation and solve of the matrix and right-hand side of the run just made: the
// matrix copied in column-major order (LAPACK's own) outside the timing, then dgetrf + dgetrs
// timed with the same clock.
std::optional<LapackRecord> runLapackOnce(Workspace& w, int n) {
  const double* original = w.original.get();
  double* a = w.lapackA.get();
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) a[at(c, r, n)] = original[at(r, c, n)];
  }
  std::memcpy(w.lapackX.get(), w.rhs.get(), static_cast<std::size_t>(n) * sizeof(double));
  LapackRecord record;
  timespec start{};
  timespec end{};
  if (!readClock(start)) return std::nullopt;
  record.info = lapackFactoriseAndSolve(a, w.lapackPivots.get(), w.lapackX.get(), n);
  if (!readClock(end)) return std::nullopt;
  record.timedNanoseconds = elapsedNanoseconds(start, end);
  record.gflops = hplFlops(n) / static_cast<double>(std::max(record.timedNanoseconds, 1LL));
  record.residual = scaledResidual(original, w.lapackX.get(), w.rhs.get(), n);
  return record;
}

// Factorises the same data with the plain scalar rendering in w's reference buffers and
// compares bytes with the factorisation left in w, and the number of singular columns with the
// last run's.
ReferenceCheck checkAgainstReference(Workspace& w, const ReportOptions& options,
                                     int singularColumns, std::FILE* notes) {
  const int n = options.n;
  // The scalar rendering measured about 0.5 GFLOP/s on the development machine.
  const double seconds = hplFlops(n) / 0.5e9;
  std::fprintf(notes,
               "lubench-report: comparing with the plain scalar rendering; it runs at about "
               "0.5 GFLOP/s, so this takes about %.0f s at n = %d\n",
               seconds, n);
  double* a = w.referenceA.get();
  int* perm = w.referencePerm.get();
  randMatrixGenSeeded(a, n, n, options.seed);
  randMatrixGenpvt(perm, n);
  const int referenceSingular = reference::blockedLu(a, perm, w.referenceS.get(), n, options.block);
  const bool same = referenceSingular == singularColumns &&
                    std::memcmp(a, w.a.get(), w.entries * sizeof(double)) == 0 &&
                    std::memcmp(perm, w.perm.get(), n * sizeof(int)) == 0;
  return same ? ReferenceCheck::kIdentical : ReferenceCheck::kDiffers;
}

// Formats a byte count for people, in GB (10^9 bytes).
std::string gigabytes(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  return text;
}

std::vector<double> collect(const Report& report, double (*field)(const RunRecord&)) {
  std::vector<double> values;
  for (const RunRecord& run : report.runs) values.push_back(field(run));
  return values;
}

std::vector<double> stepValues(const Report& report, int step) {
  std::vector<double> values;
  for (const RunRecord& run : report.runs) {
    values.push_back(static_cast<double>(run.stepNanoseconds[step]));
  }
  return values;
}

// LAPACK's value of each run (compareLapack only).
std::vector<double> lapackValues(const Report& report, double (*field)(const LapackRecord&)) {
  std::vector<double> values;
  for (const RunRecord& run : report.runs) {
    if (run.lapack) values.push_back(field(*run.lapack));
  }
  return values;
}

double medianTimedNanoseconds(const Report& report) {
  return spreadOf(
             collect(report,
                     [](const RunRecord& r) { return static_cast<double>(r.timedNanoseconds); }))
      .median;
}

double medianGflops(const Report& report) {
  return spreadOf(collect(report, [](const RunRecord& r) { return r.gflops; })).median;
}

// The median rate as a share of the measured peak.
std::optional<double> efficiencyOf(const Report& report) {
  if (!report.peakGflops || *report.peakGflops <= 0) return std::nullopt;
  return medianGflops(report) / *report.peakGflops;
}

// lubench's median time over LAPACK's, both over the same alternating runs.
std::optional<double> lapackRatio(const Report& report) {
  const std::vector<double> times = lapackValues(
      report, [](const LapackRecord& r) { return static_cast<double>(r.timedNanoseconds); });
  if (times.empty()) return std::nullopt;
  const double lapack = spreadOf(times).median;
  return lapack > 0 ? std::optional<double>(medianTimedNanoseconds(report) / lapack) : std::nullopt;
}

bool fingerprintsAgree(const Report& report) {
  return std::all_of(report.runs.begin(), report.runs.end(), [&](const RunRecord& run) {
    return run.fingerprint == report.runs.front().fingerprint;
  });
}

const char* verdict(bool passed) {
  return passed ? "PASSED" : "FAILED";
}

const char* referenceText(ReferenceCheck check) {
  switch (check) {
    case ReferenceCheck::kIdentical:
      return "identical";
    case ReferenceCheck::kDiffers:
      return "DIFFERS";
    case ReferenceCheck::kNotRequested:
      break;
  }
  return "not requested";
}

// printf into a std::string.
template <class... Args>
void appendf(std::string& out, const char* format, Args... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  out += line;
}

}  // namespace

Spread spreadOf(std::vector<double> values) {
  Spread spread;
  if (values.empty()) return spread;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  spread.min = values.front();
  spread.max = values.back();
  spread.median =
      values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  return spread;
}

double hplFlops(int n) {
  const double order = n;
  return 2.0 / 3.0 * order * order * order + 1.5 * order * order;
}

bool residualPassed(double residual) {
  return residual < kResidualBound;
}

double bytesNeeded(const ReportOptions& options) {
  const double n = options.n;
  const double reference = options.checkReference ? 1 : 0;
  const double lapack = options.compareLapack ? 1 : 0;
  const double matrices = 3 + 2 * reference + lapack;
  const double doubleVectors = 2 + lapack;
  const double intVectors = 1 + reference + lapack;
  return sizeof(double) * (matrices * n * n + doubleVectors * n) + sizeof(int) * intVectors * n +
         static_cast<double>(sizeof(RunRecord)) * options.repeat;
}

std::optional<double> availableMemoryBytes() {
  std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
  if (meminfo == nullptr) return std::nullopt;
  std::optional<double> bytes;
  char line[256];
  unsigned long long kibibytes = 0;
  while (std::fgets(line, sizeof line, meminfo) != nullptr) {
    if (std::sscanf(line, "MemAvailable: %llu kB", &kibibytes) == 1) {
      bytes = static_cast<double>(kibibytes) * 1024.0;
      break;
    }
  }
  std::fclose(meminfo);
  return bytes;
}

bool memoryFits(const ReportOptions& options) {
  const double needed = bytesNeeded(options);
  const std::optional<double> available = availableMemoryBytes();
  if (!available || needed <= *available) return true;
  std::string extras;
  if (options.checkReference) extras += " with --check-reference";
  if (options.compareLapack)
    extras += options.checkReference ? " and --compare-lapack" : " with --compare-lapack";
  std::fprintf(stderr, "lubench-report: --n %d%s needs %s of memory, more than the %s available\n",
               options.n, extras.c_str(), gigabytes(needed).c_str(), gigabytes(*available).c_str());
  return false;
}

std::optional<Report> runReport(const ReportOptions& options, std::FILE* notes, bool showProgress) {
  // Refuse before allocating: where the kernel overcommits, buffers larger than the memory
  // would be granted and the process killed later, with no message, while it writes them.
  if (!memoryFits(options)) return std::nullopt;
  Workspace workspace(options.n, options.checkReference, options.compareLapack);
  if (!workspace.ready()) return std::nullopt;
  Report report;
  report.options = options;
  report.warmUp = options.repeat > 1;
  if (options.compareLapack) report.lapackLibrary = lapackDescription();
  try {
    report.runs.reserve(static_cast<std::size_t>(options.repeat));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "lubench-report: cannot allocate the records of %d runs\n",
                 options.repeat);
    return std::nullopt;
  }

  timespec start{};
  if (!readClock(start)) return std::nullopt;
  const int totalRuns = options.repeat + (report.warmUp ? 1 : 0);
  ProgressDisplay display(notes, options, totalRuns, start);
  ProgressDisplay* progress = showProgress ? &display : nullptr;
  for (int run = 0; run < totalRuns; ++run) {
    display.startRun(run);
    std::optional<RunRecord> record = runOnce(workspace, options, progress);
    if (record && options.compareLapack) {
      // Alternately with lubench's runs, so both see the machine in the same state.
      record->lapack = runLapackOnce(workspace, options.n);
      if (!record->lapack) record.reset();
    }
    if (!record) {
      display.clear();
      return std::nullopt;
    }
    if (!(report.warmUp && run == 0)) report.runs.push_back(*record);
  }
  display.clear();
  if (options.checkReference) {
    report.reference =
        checkAgainstReference(workspace, options, report.runs.back().singularColumns, notes);
  }
  return report;
}

bool reportPassed(const Report& report) {
  if (report.runs.empty() || !fingerprintsAgree(report)) return false;
  if (report.reference == ReferenceCheck::kDiffers) return false;
  return std::all_of(report.runs.begin(), report.runs.end(),
                     [](const RunRecord& run) { return residualPassed(run.residual); });
}

int exitStatus(const Report& report) {
  return reportPassed(report) ? 0 : 2;
}

namespace {

// The header line for the core's fused multiply-add rate, beside the peak.
std::string fusedPeakLine(double gflops) {
  std::string line;
  appendf(line,
          "  fused multiply-add: %.2f GFLOP/s on this core now; LAPACK libraries may use it, the "
          "prescribed\n  order of operations may not%s\n",
          gflops, kFusedMultiplyAddInstruction ? "" : " (this build's target has no instruction)");
  return line;
}

}  // namespace

std::string vectorPathDescription() {
  return std::string(kVectorPathName) + " (" + std::to_string(kDoubleLanes) +
         " doubles per vector)";
}

std::string compilerDescription() {
#if defined(__clang__)
  return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
  return std::string("GCC ") + __VERSION__;
#else
  return "unknown compiler";
#endif
}

void writeTable(const Report& report, const TextSink& sink) {
  const ReportOptions& o = report.options;
  std::string out;
  appendf(out, "lubench-report: blocked LU factorisation and solves, one thread\n");
  appendf(out, "  n %d, block %d, seed %u%s\n", o.n, o.block, o.seed,
          o.seedGiven ? "" : " (from the calendar clock)");
  appendf(out, "  %d timed run%s%s\n", o.repeat, o.repeat == 1 ? "" : "s",
          report.warmUp ? " after one untimed warm-up run" : "");
  out += "  vector path: " + vectorPathDescription() + "\n";
  out += "  compiler: " + compilerDescription() + "\n";
  if (report.peakGflops) {
    appendf(out,
            "  peak: %.2f GFLOP/s, the tile kernel's rate on operands in the first-level cache, "
            "measured on\n  this core now; not a data-sheet figure\n",
            *report.peakGflops);
  }
  if (report.fusedPeakGflops) out += fusedPeakLine(*report.fusedPeakGflops);
  out += "\n";

  appendf(out, "%-8s %20s %10s %12s %9s", "run", "timed region (ns)", "GFLOP/s", "residual",
          "check");
  if (o.compareLapack) {
    appendf(out, " %20s %10s %12s", "LAPACK (ns)", "GFLOP/s", "residual");
  }
  out += "\n";
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunRecord& run = report.runs[i];
    appendf(out, "%-8zu %20lld %10.2f %12.4g %9s", i + 1, run.timedNanoseconds, run.gflops,
            run.residual, verdict(residualPassed(run.residual)));
    if (run.lapack) {
      appendf(out, " %20lld %10.2f %12.4g", run.lapack->timedNanoseconds, run.lapack->gflops,
              run.lapack->residual);
      if (run.lapack->info != 0) appendf(out, "  (LAPACK info %d)", run.lapack->info);
    }
    out += "\n";
    // Handed on in pieces: the table of a million runs is never held whole.
    if (out.size() > 1 << 16) {
      sink(out);
      out.clear();
    }
  }
  const Spread timed = spreadOf(
      collect(report, [](const RunRecord& r) { return static_cast<double>(r.timedNanoseconds); }));
  const Spread rate = spreadOf(collect(report, [](const RunRecord& r) { return r.gflops; }));
  appendf(out, "%-8s %20.0f %10.2f\n", "min", timed.min, rate.min);
  appendf(out, "%-8s %20.0f %10.2f\n", "median", timed.median, rate.median);
  appendf(out, "%-8s %20.0f %10.2f\n\n", "max", timed.max, rate.max);

  appendf(out, "%-38s %15s %15s %15s %7s\n", "step", "min (ns)", "median (ns)", "max (ns)",
          "share");
  auto stepLine = [&](const char* name, const Spread& spread) {
    const double share = timed.median > 0 ? 100.0 * spread.median / timed.median : 0.0;
    appendf(out, "%-38s %15.0f %15.0f %15.0f %6.1f%%\n", name, spread.min, spread.median,
            spread.max, share);
  };
  for (int step = 0; step < kLuStepCount; ++step) {
    stepLine(kLuStepNames[step], spreadOf(stepValues(report, step)));
  }
  stepLine("solves", spreadOf(collect(report, [](const RunRecord& r) {
             return static_cast<double>(r.solveNanoseconds);
           })));
  appendf(out, "  (shares of the median timed region)\n\n");

  const RunRecord& last = report.runs.back();
  const Spread residual = spreadOf(collect(report, [](const RunRecord& r) { return r.residual; }));
  appendf(out,
          "scaled residual ||Ax-b||_inf / (eps (||A||_inf ||x||_inf + ||b||_inf) n), "
          "eps = 2^-53: %.6g (largest over the runs), %s (PASSED when below %g)\n",
          residual.max,
          verdict(std::all_of(report.runs.begin(), report.runs.end(),
                              [](const RunRecord& r) { return residualPassed(r.residual); })),
          kResidualBound);
  if (std::isfinite(residual.max) && !residualPassed(residual.max)) {
    out +=
        "  note: each block's pivots are chosen before the block is eliminated, which lets "
        "entries grow\n  more than partial pivoting does, so r can pass 16 on a correct "
        "factorisation;\n  --check-reference tells whether the arithmetic itself is exact.\n";
  }
  if (last.singularColumns > 0) {
    appendf(out, "singular pivot columns reported: %d\n", last.singularColumns);
  }
  if (const std::optional<double> efficiency = efficiencyOf(report)) {
    appendf(out, "efficiency: %.1f%% of the measured peak of %.2f GFLOP/s (median rate)\n",
            100.0 * *efficiency, *report.peakGflops);
  }
  if (const std::optional<double> ratio = lapackRatio(report)) {
    const Spread lapackTimes = spreadOf(lapackValues(
        report, [](const LapackRecord& r) { return static_cast<double>(r.timedNanoseconds); }));
    const Spread lapackResidual =
        spreadOf(lapackValues(report, [](const LapackRecord& r) { return r.residual; }));
    appendf(out,
            "LAPACK dgetrf + dgetrs, run after each of lubench's runs on the same matrix: median "
            "%.0f ns, %.2f GFLOP/s, largest residual %.4g\n",
            lapackTimes.median, hplFlops(o.n) / lapackTimes.median, lapackResidual.max);
    out += "  library: " + report.lapackLibrary + "\n";
    appendf(out, "  lubench time / LAPACK time: %.2f (medians)\n", *ratio);
  }
  out += "fingerprint of the factorised matrix and permutation (FNV-1a 64): " +
         formatFingerprint(last.fingerprint) +
         (fingerprintsAgree(report) ? "" : "  (RUNS DISAGREE)") + "\n";
  out += std::string("comparison with the plain scalar rendering: ") +
         referenceText(report.reference) + "\n";
  out += std::string("result: ") + verdict(reportPassed(report)) + "\n";
  sink(out);
}

std::string formatTable(const Report& report) {
  std::string text;
  writeTable(report, [&](std::string_view piece) { text += piece; });
  return text;
}

namespace {

// The members of a JSON object as dump(2) writes them, without the enclosing braces, each line
// indented by extra further spaces.
std::string objectMembers(const nlohmann::ordered_json& object, int extra) {
  const std::string text = object.dump(2);
  // "{\n" ... "\n}"; an empty object is "{}".
  if (text.size() <= 2) return {};
  std::string inner = text.substr(2, text.size() - 4);
  const std::string indent(static_cast<std::size_t>(extra), ' ');
  std::string out = indent;
  for (char c : inner) {
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

}  // namespace

void writeJson(const Report& report, const TextSink& sink) {
  using json = nlohmann::ordered_json;
  const ReportOptions& o = report.options;
  auto spreadJson = [](const Spread& s) {
    return json{{"min", s.min}, {"median", s.median}, {"max", s.max}};
  };
  auto finiteOrNull = [](double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
  };
  auto runJson = [&](const RunRecord& run) {
    json steps = json::object();
    for (int step = 0; step < kLuStepCount; ++step) {
      steps[kLuStepKeys[step]] = run.stepNanoseconds[step];
    }
    steps["solves"] = run.solveNanoseconds;
    json lapack = nullptr;
    if (run.lapack) {
      lapack = json{{"timed_ns", run.lapack->timedNanoseconds},
                    {"gflops", run.lapack->gflops},
                    {"residual", finiteOrNull(run.lapack->residual)},
                    {"info", run.lapack->info}};
    }
    json record{{"timed_ns", run.timedNanoseconds},
                {"gflops", run.gflops},
                {"steps_ns", steps},
                {"residual", std::isfinite(run.residual) ? json(run.residual) : json(nullptr)},
                {"residual_passed", residualPassed(run.residual)},
                {"singular_columns", run.singularColumns},
                {"fingerprint", formatFingerprint(run.fingerprint)}};
    if (run.lapack) record["lapack"] = lapack;
    return record;
  };
  const Spread timed = spreadOf(
      collect(report, [](const RunRecord& r) { return static_cast<double>(r.timedNanoseconds); }));
  json steps = json::object();
  for (int step = 0; step < kLuStepCount; ++step) {
    const Spread spread = spreadOf(stepValues(report, step));
    json entry = spreadJson(spread);
    entry["share_of_median"] = timed.median > 0 ? spread.median / timed.median : 0.0;
    steps[kLuStepKeys[step]] = entry;
  }
  const Spread solves = spreadOf(
      collect(report, [](const RunRecord& r) { return static_cast<double>(r.solveNanoseconds); }));
  json solvesJson = spreadJson(solves);
  solvesJson["share_of_median"] = timed.median > 0 ? solves.median / timed.median : 0.0;
  steps["solves"] = solvesJson;

  json referenceJson = nullptr;
  if (report.reference != ReferenceCheck::kNotRequested) {
    referenceJson = report.reference == ReferenceCheck::kIdentical ? "identical" : "differs";
  }
  const json head{
      {"n", o.n},
      {"block", o.block},
      {"seed", o.seed},
      {"seed_from_clock", !o.seedGiven},
      {"repeat", o.repeat},
      {"warm_up", report.warmUp},
      {"vector_path", kVectorPathName},
      {"vector_doubles", kDoubleLanes},
      {"compiler", compilerDescription()},
      {"flops_per_run", hplFlops(o.n)},
  };
  json lapackJson = nullptr;
  if (o.compareLapack) {
    lapackJson = json{
        {"library", report.lapackLibrary},
        {"timed_ns",
         spreadJson(spreadOf(lapackValues(
             report,
             [](const LapackRecord& r) { return static_cast<double>(r.timedNanoseconds); })))},
        {"gflops", spreadJson(spreadOf(
                       lapackValues(report, [](const LapackRecord& r) { return r.gflops; })))},
        {"residual_max",
         finiteOrNull(
             spreadOf(lapackValues(report, [](const LapackRecord& r) { return r.residual; })).max)},
        {"lubench_over_lapack", lapackRatio(report) ? json(*lapackRatio(report)) : json(nullptr)},
    };
  }
  const json tail{
      {"timed_ns", spreadJson(timed)},
      {"gflops",
       spreadJson(spreadOf(collect(report, [](const RunRecord& r) { return r.gflops; })))},
      {"steps_ns", steps},
      {"residual_bound", kResidualBound},
      {"fingerprint", formatFingerprint(report.runs.back().fingerprint)},
      {"fingerprints_agree", fingerprintsAgree(report)},
      {"reference_check", referenceJson},
      {"peak_gflops", report.peakGflops ? json(*report.peakGflops) : json(nullptr)},
      {"fused_peak_gflops", report.fusedPeakGflops ? json(*report.fusedPeakGflops) : json(nullptr)},
      {"efficiency", efficiencyOf(report) ? json(*efficiencyOf(report)) : json(nullptr)},
      {"lapack", lapackJson},
      {"passed", reportPassed(report)},
  };
  // The runs one at a time, between the members before and after them.
  sink("{\n" + objectMembers(head, 0) + ",\n  \"runs\": [");
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    sink((i == 0 ? "\n    {\n" : ",\n    {\n") + objectMembers(runJson(report.runs[i]), 4) +
         "\n    }");
  }
  sink(report.runs.empty() ? "],\n" : "\n  ],\n");
  sink(objectMembers(tail, 0) + "\n}\n");
}

nlohmann::ordered_json toJson(const Report& report) {
  std::string text;
  writeJson(report, [&](std::string_view piece) { text += piece; });
  return nlohmann::ordered_json::parse(text);
}

StandardOutputDiversion::StandardOutputDiversion() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

StandardOutputDiversion::~StandardOutputDiversion() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
}

PeakMeasurement measurePeak(double maxSeconds) {
  PeakMeasurement peak;
  timespec start{};
  if (clock_gettime(CLOCK_MONOTONIC, &start) != 0) return peak;
  // A first short try sizes the others to about a tenth of the time allowed each.
  int tiles = 200;
  for (;;) {
    timespec before{};
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const double flops = runTileKernelInCache(tiles);
    clock_gettime(CLOCK_MONOTONIC, &after);
    const double seconds = std::max(elapsedNanoseconds(before, after), 1LL) * 1e-9;
    peak.gflops = std::max(peak.gflops, flops / seconds / 1e9);
    ++peak.tries;
    peak.seconds = elapsedNanoseconds(start, after) * 1e-9;
    const double tryLength = maxSeconds / 10;
    tiles = std::max(1, static_cast<int>(tiles * (tryLength / seconds)));
    // Stop before a further try could pass the time allowed.
    if (peak.seconds + 2 * tryLength > maxSeconds) break;
  }
  // The fused rate, for comparison only: three tries of about a millisecond where the target has
  // the instruction (std::fma in software is far slower), the best kept.
  const long fusedSteps = kFusedMultiplyAddInstruction ? 200000 : 2000;
  for (int fusedTry = 0; fusedTry < 3; ++fusedTry) {
    timespec before{};
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const double flops = runMultiplyAddChains(fusedSteps, true);
    clock_gettime(CLOCK_MONOTONIC, &after);
    const double seconds = std::max(elapsedNanoseconds(before, after), 1LL) * 1e-9;
    peak.fusedGflops = std::max(peak.fusedGflops, flops / seconds / 1e9);
  }
  return peak;
}

std::optional<Sweep> runSweep(const SweepOptions& options, std::FILE* notes, bool showProgress) {
  Sweep sweep;
  sweep.listed = options.orders.size() > 1 || options.blocks.size() > 1;
  std::vector<ReportOptions> combinations;
  for (int n : options.orders) {
    for (int block : options.blocks) {
      ReportOptions combination = options.base;
      combination.n = n;
      combination.block = block;
      combinations.push_back(combination);
    }
  }
  // Every combination's memory before any run, so a sweep never stops half-way for it.
  for (const ReportOptions& combination : combinations) {
    if (!memoryFits(combination)) return std::nullopt;
  }
  if (options.measurePeak) sweep.peak = measurePeak(0.4);
  for (const ReportOptions& combination : combinations) {
    std::optional<Report> report = runReport(combination, notes, showProgress);
    if (!report) return std::nullopt;
    if (sweep.peak) {
      report->peakGflops = sweep.peak->gflops;
      report->fusedPeakGflops = sweep.peak->fusedGflops;
    }
    sweep.reports.push_back(std::move(*report));
  }
  return sweep;
}

bool sweepPassed(const Sweep& sweep) {
  return !sweep.reports.empty() && std::all_of(sweep.reports.begin(), sweep.reports.end(),
                                               [](const Report& r) { return reportPassed(r); });
}

int sweepExitStatus(const Sweep& sweep) {
  return sweepPassed(sweep) ? 0 : 2;
}

ParsedList parseList(const std::string& text, int largest) {
  ParsedList list;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(',', begin);
    const std::string item =
        text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    if (item.empty()) {
      list.error = "empty item in '" + text + "'";
      return list;
    }
    int value = 0;
    const char* end = item.data() + item.size();
    const auto [stop, error] = std::from_chars(item.data(), end, value);
    if (item.find_first_not_of("0123456789") != std::string::npos || error != std::errc() ||
        stop != end || value < 1 || value > largest) {
      list.error = "expected whole numbers from 1 to " + std::to_string(largest) +
                   " separated by commas, got '" + item + "' in '" + text + "'";
      return list;
    }
    if (std::find(list.values.begin(), list.values.end(), value) != list.values.end()) {
      list.error = "'" + item + "' appears twice in '" + text + "'";
      return list;
    }
    list.values.push_back(value);
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return list;
}

void writeSweepTable(const Sweep& sweep, bool summaryOnly, const TextSink& sink) {
  // A single combination's table says all the summary would.
  if (!sweep.listed && !summaryOnly) {
    writeTable(sweep.reports.front(), sink);
    return;
  }
  std::string out;
  const ReportOptions& o = sweep.reports.front().options;
  const bool lapack = o.compareLapack;
  appendf(out, "lubench-report: blocked LU factorisation and solves, one thread\n");
  appendf(out, "  seed %u%s; %d timed run%s per combination%s\n", o.seed,
          o.seedGiven ? "" : " (from the calendar clock)", o.repeat, o.repeat == 1 ? "" : "s",
          o.repeat > 1 ? ", each after one untimed warm-up run" : "");
  out += "  vector path: " + vectorPathDescription() + "\n";
  out += "  compiler: " + compilerDescription() + "\n";
  if (sweep.peak) {
    appendf(out,
            "  peak: %.2f GFLOP/s, the tile kernel's rate on operands in the first-level cache, "
            "measured on this\n  core now (best of %d tries in %.2f s; separate multiplies and "
            "adds, as lubench does them);\n  not a data-sheet figure\n",
            sweep.peak->gflops, sweep.peak->tries, sweep.peak->seconds);
    out += fusedPeakLine(sweep.peak->fusedGflops);
  }
  if (lapack) out += "  LAPACK: " + sweep.reports.front().lapackLibrary + "\n";
  out += "\n";
  appendf(out, "%7s %7s %16s %9s %10s %10s %7s %17s", "n", "b", "median (ns)", "GFLOP/s",
          "efficiency", "residual", "check", "fingerprint");
  if (lapack) appendf(out, " %16s %9s %10s %8s", "LAPACK (ns)", "GFLOP/s", "residual", "ratio");
  out += "\n";
  for (const Report& report : sweep.reports) {
    const std::optional<double> efficiency = efficiencyOf(report);
    const double residual =
        spreadOf(collect(report, [](const RunRecord& r) { return r.residual; })).max;
    char efficiencyText[32] = "-";
    if (efficiency)
      std::snprintf(efficiencyText, sizeof efficiencyText, "%.1f%%", 100 * *efficiency);
    appendf(out, "%7d %7d %16.0f %9.2f %10s %10.4g %7s %17s", report.options.n,
            report.options.block, medianTimedNanoseconds(report), medianGflops(report),
            efficiencyText, residual, verdict(reportPassed(report)),
            formatFingerprint(report.runs.back().fingerprint).c_str());
    if (const std::optional<double> ratio = lapackRatio(report)) {
      const double lapackTime = spreadOf(lapackValues(report, [](const LapackRecord& r) {
                                  return static_cast<double>(r.timedNanoseconds);
                                })).median;
      const double lapackResidual =
          spreadOf(lapackValues(report, [](const LapackRecord& r) { return r.residual; })).max;
      appendf(out, " %16.0f %9.2f %10.4g %8.2f", lapackTime,
              hplFlops(report.options.n) / lapackTime, lapackResidual, *ratio);
    }
    out += "\n";
  }
  if (lapack)
    out += "  (ratio: lubench's median time over LAPACK's, over the same alternating runs)\n";
  appendf(out, "result: %s\n", verdict(sweepPassed(sweep)));
  sink(out);
  if (summaryOnly) return;
  for (const Report& report : sweep.reports) {
    sink("\n");
    writeTable(report, sink);
  }
}

void writeSweepJson(const Sweep& sweep, const TextSink& sink) {
  if (!sweep.listed) {
    writeJson(sweep.reports.front(), sink);
    return;
  }
  sink("[\n");
  for (std::size_t i = 0; i < sweep.reports.size(); ++i) {
    if (i > 0) sink(",\n");
    // writeJson ends its object with a line end; the array's separators follow it.
    std::string object;
    writeJson(sweep.reports[i], [&](std::string_view piece) {
      if (!object.empty()) sink(object);
      object = piece;
    });
    if (!object.empty() && object.back() == '\n') object.pop_back();
    sink(object);
  }
  sink("\n]\n");
}
