#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>
#include <string>

#include "block_loop.hpp"
#include "lapack_peer.hpp"
#include "project.hpp"
#include "report.hpp"

// lubench-report: runs lubench's timed work and reports its time, the time of each step, the
// scaled residual and a fingerprint of the factorisation, as a table or as JSON.
// Exit status: 0 when every run passed, 2 for a failed residual or reference check, 64 for a
// usage error, 1 when memory, the clock or standard output fails.

namespace {

constexpr int kUsageError = 64;
constexpr int kSystemError = 1;
constexpr const char* kProgram = "lubench-report";

// Accepts a whole number in [smallest, largest] written in decimal digits only, and hands it on
// in canonical form: leading zeros are decimal ("064" is 64), never octal, so the value used is
// the value checked.
template <class Number>
CLI::Validator decimalNumber(Number smallest, Number largest) {
  const std::string range = std::to_string(smallest) + ".." + std::to_string(largest);
  return CLI::Validator(
      [smallest, largest](std::string& text) -> std::string {
        Number value = 0;
        const char* end = text.data() + text.size();
        const bool digitsOnly =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (!digitsOnly || error != std::errc() || stop != end || value < smallest ||
            value > largest) {
          return "expected a whole number from " + std::to_string(smallest) + " to " +
                 std::to_string(largest) + ", got '" + text + "'";
        }
        text = std::to_string(value);
        return {};
      },
      range);
}

// Accepts a comma-separated list of distinct whole numbers in [1, largest] (parseList).
CLI::Validator numberList(int largest) {
  return CLI::Validator(
      [largest](std::string& text) -> std::string { return parseList(text, largest).error; },
      "LIST of 1.." + std::to_string(largest));
}

// A closed standard descriptor would be reused by the next file opened (the diversion of
// standard output among them) and output meant for one stream would land in another; each
// closed one is opened on /dev/null instead. False when that fails.
bool openClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd) return false;
  }
  return true;
}

int run(int argc, char** argv) {
  CLI::App app{
      "Runs lubench's timed work (blocked LU factorisation and both triangular solves) and "
      "reports its time, the time of each step, HPL's scaled residual with PASSED/FAILED, and a "
      "fingerprint of the factorisation. On a terminal, progress is shown on standard error.",
      kProgram};
  SweepOptions sweep;
  ReportOptions& options = sweep.base;
  std::string orders = "4096";
  std::string blocks = "32";
  bool json = false;
  bool summaryOnly = false;
  constexpr int kLargestInt = std::numeric_limits<int>::max();
  app.add_option("--n", orders,
                 "order of the matrix, or a comma-separated list of orders to run one after "
                 "another (every combination with the blocks)")
      ->check(numberList(kLargestInt))
      ->capture_default_str();
  app.add_option("--block", blocks,
                 "column block size of the factorisation, or a comma-separated list of them")
      ->check(numberList(kLargestInt))
      ->capture_default_str();
  CLI::Option* seedOption =
      app.add_option(
             "--seed", options.seed,
             "seed of the matrix generator (default: the calendar clock, as lubench); a given seed "
             "makes the matrix reproducible")
          ->transform(decimalNumber(0u, std::numeric_limits<unsigned>::max()));
  app.add_option("--repeat", options.repeat,
                 "timed runs; one untimed warm-up run comes first when more than one")
      ->transform(decimalNumber(1, 1000000))
      ->capture_default_str();
  app.add_flag("--json", json,
               "print JSON instead of the table: one object, or an array of them for several "
               "combinations");
  app.add_flag("--check-reference", options.checkReference,
               "compare the factorisation bit for bit with the plain scalar rendering (slow: "
               "about a minute and a half at n = 4096)");
  app.add_flag("--peak,!--no-peak", sweep.measurePeak,
               "measure this core's floating-point rate first (the tile kernel on operands in the "
               "first-level cache, under half a second) and show each rate as a share of it; on "
               "by default");
  app.add_flag("--compare-lapack", options.compareLapack,
               "after each run, factorise and solve the same matrix with the machine's LAPACK "
               "(LAPACKE_dgetrf + LAPACKE_dgetrs) and show its time, rate and residual and the "
               "ratio; needs a build with LAPACKE. The environment may pin OpenBLAS to a kernel "
               "(OPENBLAS_CORETYPE): the report names the kernel that ran");
  app.add_flag("--summary", summaryOnly, "print only the summary row of each combination");

  StandardOutput out(kProgram);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out.write(app.help());
    return out.finish() ? 0 : kSystemError;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "%s: %s\n\n%s", kProgram, error.what(), app.help().c_str());
    return kUsageError;
  }
  if (options.compareLapack && !lapackAvailable()) {
    std::fprintf(stderr,
                 "%s: --compare-lapack needs LAPACKE, which this build does not have (install "
                 "liblapacke-dev and libopenblas-serial-dev, then configure and build again)\n",
                 kProgram);
    return kUsageError;
  }
  sweep.orders = parseList(orders, kLargestInt).values;
  sweep.blocks = parseList(blocks, kLargestInt).values;
  options.seedGiven = seedOption->count() > 0;
  if (!options.seedGiven) options.seed = static_cast<unsigned>(std::time(nullptr));

  std::optional<Sweep> result;
  if (json) {
    StandardOutputDiversion diversion;
    if (!diversion.active()) {
      std::perror("lubench-report: cannot divert standard output while the runs print");
      return kSystemError;
    }
    result = runSweep(sweep, stderr, false);
  } else {
    result = runSweep(sweep, stderr, isatty(STDERR_FILENO) == 1);
  }
  if (!result) return kSystemError;

  const TextSink sink = [&](std::string_view piece) { out.write(piece); };
  if (json) {
    writeSweepJson(*result, sink);
  } else {
    writeSweepTable(*result, summaryOnly, sink);
  }
  if (!out.finish()) return kSystemError;
  return sweepExitStatus(*result);
}

}  // namespace

int main(int argc, char** argv) {
  if (!openClosedStandardDescriptors()) return kSystemError;
  // A stack too small for the factorisation's buffers would end the runs with a signal.
  if (!stackLimitAllows(kBlockLoopStackBytes, kProgram)) return kSystemError;
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
    return kSystemError;
  }
}
