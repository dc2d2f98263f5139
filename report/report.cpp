#include "report.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "linalg.hpp"
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

// The buffers of one run, allocated once and reused by every run.
struct Workspace {
  explicit Workspace(int n)
      : entries(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)),
        a(allocate<double>(entries, "matrix A", n)),
        original(a ? allocate<double>(entries, "copy of the matrix", n) : nullptr),
        s(original ? allocate<double>(entries, "scratch product matrix", n) : nullptr),
        rhs(s ? allocate<double>(n, "right-hand side", n) : nullptr),
        x(rhs ? allocate<double>(n, "solution", n) : nullptr),
        perm(x ? allocate<int>(n, "permutation vector", n) : nullptr) {}
  bool ready() const { return perm != nullptr; }

  std::size_t entries;
  Buffer<double> a, original, s, rhs, x;
  Buffer<int> perm;
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

std::optional<RunRecord> runOnce(Workspace& w, const ReportOptions& options) {
  const int n = options.n;
  prepare(w, n, options.seed);
  RunRecord record;
  timespec start{};
  timespec end{};
  if (!readClock(start)) return std::nullopt;
  StepTimer timer(start);
  record.singularColumns =
      runBlockedLu(w.a.get(), w.perm.get(), w.s.get(), n, options.block, timer);
  mydtsrsm(w.perm.get(), w.a.get(), w.rhs.get(), n);
  if (!readClock(end)) return std::nullopt;

  record.timedNanoseconds = elapsedNanoseconds(start, end);
  record.stepNanoseconds = timer.nanoseconds();
  record.solveNanoseconds = elapsedNanoseconds(timer.lastMark(), end);
  record.gflops = hplFlops(n) / static_cast<double>(std::max(record.timedNanoseconds, 1LL));
  // The same solve again, outside the timed region, keeping x for the residual.
  luSolve(w.perm.get(), w.a.get(), w.rhs.get(), n, w.x.get());
  record.residual = scaledResidual(w.original.get(), w.x.get(), w.rhs.get(), n);
  record.fingerprint = fingerprint(w.a.get(), w.perm.get(), n);
  return record;
}

// Factorises the same data with the plain scalar rendering and compares bytes with the
// factorisation left in w, and the number of singular columns with the last run's.
std::optional<ReferenceCheck> checkAgainstReference(const Workspace& w,
                                                    const ReportOptions& options,
                                                    int singularColumns, std::FILE* progress) {
  const int n = options.n;
  // The scalar rendering measured about 0.5 GFLOP/s on the development machine.
  const double seconds = hplFlops(n) / 0.5e9;
  std::fprintf(progress,
               "lubench-report: comparing with the plain scalar rendering; it runs at about "
               "0.5 GFLOP/s, so this takes about %.0f s at n = %d\n",
               seconds, n);
  Buffer<double> a = allocate<double>(w.entries, "reference matrix", n);
  Buffer<double> s = a ? allocate<double>(w.entries, "reference scratch matrix", n) : nullptr;
  Buffer<int> perm = s ? allocate<int>(n, "reference permutation", n) : nullptr;
  if (!perm) return std::nullopt;
  randMatrixGenSeeded(a.get(), n, n, options.seed);
  randMatrixGenpvt(perm.get(), n);
  const int referenceSingular =
      reference::blockedLu(a.get(), perm.get(), s.get(), n, options.block);
  const bool same = referenceSingular == singularColumns &&
                    std::memcmp(a.get(), w.a.get(), w.entries * sizeof(double)) == 0 &&
                    std::memcmp(perm.get(), w.perm.get(), n * sizeof(int)) == 0;
  return same ? ReferenceCheck::kIdentical : ReferenceCheck::kDiffers;
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

std::optional<Report> runReport(const ReportOptions& options, std::FILE* progress) {
  Workspace workspace(options.n);
  if (!workspace.ready()) return std::nullopt;
  Report report;
  report.options = options;
  report.warmUp = options.repeat > 1;
  if (report.warmUp && !runOnce(workspace, options)) return std::nullopt;
  for (int run = 0; run < options.repeat; ++run) {
    std::optional<RunRecord> record = runOnce(workspace, options);
    if (!record) return std::nullopt;
    report.runs.push_back(*record);
  }
  if (options.checkReference) {
    const std::optional<ReferenceCheck> check =
        checkAgainstReference(workspace, options, report.runs.back().singularColumns, progress);
    if (!check) return std::nullopt;
    report.reference = *check;
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

std::string formatTable(const Report& report) {
  const ReportOptions& o = report.options;
  std::string out;
  appendf(out, "lubench-report: blocked LU factorisation and solves, one thread\n");
  appendf(out, "  n %d, block %d, seed %u%s\n", o.n, o.block, o.seed,
          o.seedGiven ? "" : " (from the calendar clock)");
  appendf(out, "  %d timed run%s%s\n", o.repeat, o.repeat == 1 ? "" : "s",
          report.warmUp ? " after one untimed warm-up run" : "");
  out += "  vector path: " + vectorPathDescription() + "\n";
  out += "  compiler: " + compilerDescription() + "\n\n";

  appendf(out, "%-8s %20s %10s %12s %9s\n", "run", "timed region (ns)", "GFLOP/s", "residual",
          "check");
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunRecord& run = report.runs[i];
    appendf(out, "%-8zu %20lld %10.2f %12.4g %9s\n", i + 1, run.timedNanoseconds, run.gflops,
            run.residual, verdict(residualPassed(run.residual)));
  }
  const Spread timed = spreadOf(
      collect(report, [](const RunRecord& r) { return static_cast<double>(r.timedNanoseconds); }));
  const Spread rate = spreadOf(collect(report, [](const RunRecord& r) { return r.gflops; }));
  appendf(out, "%-8s %20.0f %10.2f\n", "min", timed.min, rate.min);
  appendf(out, "%-8s %20.0f %10.2f\n", "median", timed.median, rate.median);
  appendf(out, "%-8s %20.0f %10.2f\n\n", "max", timed.max, rate.max);

  appendf(out, "%-32s %15s %15s %15s %7s\n", "step", "min (ns)", "median (ns)", "max (ns)",
          "share");
  auto stepLine = [&](const char* name, const Spread& spread) {
    const double share = timed.median > 0 ? 100.0 * spread.median / timed.median : 0.0;
    appendf(out, "%-32s %15.0f %15.0f %15.0f %6.1f%%\n", name, spread.min, spread.median,
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
  out += "fingerprint of the factorised matrix and permutation (FNV-1a 64): " +
         formatFingerprint(last.fingerprint) +
         (fingerprintsAgree(report) ? "" : "  (RUNS DISAGREE)") + "\n";
  out += std::string("comparison with the plain scalar rendering: ") +
         referenceText(report.reference) + "\n";
  out += std::string("result: ") + verdict(reportPassed(report)) + "\n";
  return out;
}

nlohmann::ordered_json toJson(const Report& report) {
  using json = nlohmann::ordered_json;
  const ReportOptions& o = report.options;
  auto spreadJson = [](const Spread& s) {
    return json{{"min", s.min}, {"median", s.median}, {"max", s.max}};
  };
  json runs = json::array();
  for (const RunRecord& run : report.runs) {
    json steps = json::object();
    for (int step = 0; step < kLuStepCount; ++step) {
      steps[kLuStepKeys[step]] = run.stepNanoseconds[step];
    }
    steps["solves"] = run.solveNanoseconds;
    runs.push_back({{"timed_ns", run.timedNanoseconds},
                    {"gflops", run.gflops},
                    {"steps_ns", steps},
                    {"residual", std::isfinite(run.residual) ? json(run.residual) : json(nullptr)},
                    {"residual_passed", residualPassed(run.residual)},
                    {"singular_columns", run.singularColumns},
                    {"fingerprint", formatFingerprint(run.fingerprint)}});
  }
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
  return json{
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
      {"runs", runs},
      {"timed_ns", spreadJson(timed)},
      {"gflops",
       spreadJson(spreadOf(collect(report, [](const RunRecord& r) { return r.gflops; })))},
      {"steps_ns", steps},
      {"residual_bound", kResidualBound},
      {"fingerprint", formatFingerprint(report.runs.back().fingerprint)},
      {"fingerprints_agree", fingerprintsAgree(report)},
      {"reference_check", referenceJson},
      {"passed", reportPassed(report)},
  };
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
