#include "command_line.hpp"

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>

#include "lapack_peer.hpp"
#include "output.hpp"
#include "output_options.hpp"
#include "program_help.hpp"
#include "text_format.hpp"
#include "vector_paths.hpp"

namespace {

// The vector path and the comma-separated kernels asked for, checked against what this CPU
// runs: the kernels' list in kernelList, or the refusal's text.
std::optional<std::string> checkPathAndKernels(const std::string& pathName,
                                               const std::string& kernelText,
                                               std::vector<std::string>& kernelList) {
  const std::string runnable = "this CPU runs " + runnablePathsAndKernels();
  const VectorPath* path = nullptr;
  if (pathName != "auto") {
    path = findVectorPath(pathName);
    if (path == nullptr) {
      return "--vector-path: no vector path is called '" + pathName + "'; " + runnable;
    }
    if (!path->cpuRuns()) {
      return "--vector-path: this CPU cannot run " + pathName + " (it needs " + path->needs +
             "); " + runnable;
    }
  }
  kernelList.clear();
  for (std::size_t from = 0;;) {
    const std::size_t comma = kernelText.find(',', from);
    const std::string name =
        kernelText.substr(from, comma == std::string::npos ? comma : comma - from);
    if (name.empty()) return "--kernel: an empty name in '" + kernelText + "'";
    // Each name is a combination, and each combination is once in a document.
    if (std::find(kernelList.begin(), kernelList.end(), name) != kernelList.end()) {
      return "--kernel: '" + name + "' appears twice in '" + kernelText + "'";
    }
    if (name != "auto") {
      bool found = false;
      for (const VectorPath& held : vectorPaths()) {
        if ((path == nullptr || &held == path) && held.cpuRuns() &&
            findKernel(held, name) != nullptr) {
          found = true;
        }
      }
      if (!found) {
        const std::string where = path == nullptr ? "no vector path this CPU runs holds a"
                                                  : std::string(path->name) + " holds no";
        return "--kernel: " + where + " tile kernel called '" + name + "'; " + runnable;
      }
    }
    kernelList.push_back(name);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return std::nullopt;
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv,
                             const std::function<bool(const std::string&)>& isReservedKey) {
  CLI::App app{
      "Runs lubench's timed work (blocked LU factorisation and both triangular solves) and "
      "reports its time, the time of each step, HPL's scaled residual with PASSED/FAILED, and a "
      "fingerprint of the factorisation. Each combination is written as soon as it finishes. On "
      "a terminal, progress is shown on standard error between runs.",
      kProgram};
  app.footer(subcommandsText());
  // A flag is a flag: --json=yes is a usage error, not a spelling of true.
  app.option_defaults()->disable_flag_override();
  SweepOptions sweep;
  RunOptions& options = sweep.base;
  std::string orders = std::to_string(kBenchmarkOrder);
  std::string blocks = std::to_string(kBenchmarkBlock);
  constexpr int kLargestInt = std::numeric_limits<int>::max();
  app.add_option("--n", orders,
                 "order of the matrix, or a comma-separated list of orders to run one after "
                 "another (every combination with the blocks)")
      ->check(numberList(kLargestInt, sweep.orders))
      ->capture_default_str();
  app.add_option("--block", blocks,
                 "column block size of the factorisation, or a comma-separated list of them")
      ->check(numberList(kLargestInt, sweep.blocks))
      ->capture_default_str();
  app.add_option("--vector-path", options.vectorPath,
                 "the vector path the runs use: auto (the widest this CPU runs), avx512, avx2, "
                 "avx, sse2 or portable; one this CPU cannot run is refused")
      ->type_name("PATH")
      ->capture_default_str();
  std::string kernels = "auto";
  app.add_option("--kernel", kernels,
                 "the tile kernel of the trailing updates: auto (the path's default), a kernel's "
                 "name, or a comma-separated list of them, each run as another combination; "
                 "with --vector-path auto a kernel runs on the widest path this CPU runs that "
                 "holds it")
      ->type_name("auto|NAME[,NAME...]")
      ->capture_default_str();
  CLI::Option* seedOption =
      app.add_option("--seed", options.seed,
                     "seed of the matrix generator (default: the calendar clock, as lubench); a "
                     "given seed makes the matrix reproducible")
          ->transform(decimalNumber(0, std::numeric_limits<unsigned>::max()));
  app.add_option("--repeat", options.repeat,
                 "timed runs per combination; one untimed warm-up run comes first when there is "
                 "more than one run or more than one combination")
      ->transform(decimalNumber(1, 1000000))
      ->capture_default_str();
  app.add_flag("--warm-up", sweep.warmUpAsked,
               "make one untimed warm-up run before the timed runs of every combination, even "
               "of a single run");
  OutputRequest outputs;
  addOutputOptions(app, outputs, sweep);
  app.add_flag("--check-reference", options.checkReference,
               "compare the factorisation bit for bit with the plain scalar rendering (slow: "
               "about a minute and a half at the default order)");
  // Two flags rather than one negatable flag, whose help would show "--no-peak{false}".
  bool peak = false, noPeak = false;
  CLI::Option* peakOption =
      app.add_flag("--peak", peak,
                   "measure this core's peak for separate multiplies and adds first (independent "
                   "chains of them on registers, under half a second) and show each rate as a "
                   "share of it, with the tile kernel's rate in the first-level cache beside it; "
                   "on by default");
  app.add_flag("--no-peak", noPeak, "skip measuring the peak")->excludes(peakOption);
  app.add_flag("--compare-lapack", options.compareLapack,
               "after each run, factorise and solve the same matrix with the machine's LAPACK "
               "(LAPACKE_dgetrf + LAPACKE_dgetrs) and show its time, rate and residual and the "
               "ratio; needs a build with LAPACKE. The environment may pin OpenBLAS to a kernel "
               "(OPENBLAS_CORETYPE): the report names the kernel that ran");
  std::string affinity;
  CLI::Option* affinityOption =
      app.add_option("--affinity", affinity,
                     "pin the process to this CPU before anything is allocated (recorded in the "
                     "context)")
          ->transform(decimalNumber(0, CPU_SETSIZE - 1))
          ->type_name("CPU");
  app.add_option("--copies", sweep.copies,
                 "after each combination's runs (the single copy, the other CPUs idle), run it "
                 "again as one copy per CPU at once, each in its own process pinned to its CPU: "
                 "a count (the first that many CPUs, one per physical core first), all (every "
                 "CPU this process may use) or cores (one CPU per physical core); reports the "
                 "total rate, the contention and each copy's fingerprint")
      ->type_name("N|all|cores")
      ->check(copiesCheck())
      ->excludes(affinityOption)
      ->excludes("--check-reference")
      ->excludes("--compare-lapack");
  std::vector<std::string> userContext;
  app.add_option("--context", userContext,
                 "add KEY=VALUE to the JSON document's context (repeatable)")
      ->type_name("KEY=VALUE")
      ->take_first()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(contextPairCheck(isReservedKey));

  std::string expectPath;
  CLI::Option* expectOption =
      app.add_option("--expect", expectPath,
                     "check each combination's median GFLOP/s against the reference band of "
                     "this CPU model, the vector path its runs ran on, n and block in FILE (a "
                     "reference bands' document, read before anything runs): exit with status 4 "
                     "when one is outside its band; one without a band is said, not failed")
          ->type_name("FILE");

  bool version = false;
  app.add_flag("--version", version,
               "print the version, the commit, the compiler and the vector paths this build "
               "holds, and exit");

  CommandLine result;
  if (const std::optional<int> status = parseArguments(app, argc, argv, kProgram)) {
    result.exitStatus = *status;
    return result;
  }
  if (version) {
    StandardOutput out(kProgram);
    out.write(versionText());
    result.exitStatus = out.finish() ? 0 : kStatusSystem;
    return result;
  }
  if (const std::optional<std::string> refusal =
          checkPathAndKernels(options.vectorPath, kernels, sweep.kernels)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, printable(*refusal).c_str());
    result.exitStatus = kStatusUsage;
    return result;
  }
  if (options.compareLapack && !lapackAvailable()) {
    std::fprintf(stderr,
                 "%s: --compare-lapack needs LAPACKE, which this build does not have (install "
                 "liblapacke-dev and libopenblas-serial-dev, then configure and build again)\n",
                 kProgram);
    result.exitStatus = kStatusUsage;
    return result;
  }
  // Where the results go is settled before anything runs.
  if (const std::optional<std::string> refusal = resolveOutputOptions(app, outputs, sweep)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, refusal->c_str());
    result.exitStatus = kStatusUsage;
    return result;
  }
  if (expectOption->count() > 0) {
    result.expectations = readExpectationsOption(expectPath, kProgram);
    if (!result.expectations) {
      result.exitStatus = kStatusUsage;
      return result;
    }
    // The bands are read, never replaced by a result.
    const TargetResolution bands = resolveOutputTarget(expectPath, "--expect");
    std::vector<OutputTarget> written = sweep.outs;
    if (sweep.plot) written.push_back(*sweep.plot);
    for (const OutputTarget& target : written) {
      if (!bands.target || !sameTarget(*bands.target, target)) continue;
      std::fprintf(stderr, "%s: %s names the --expect file: it is read, never written\n",
                   kProgram, printable(target.given).c_str());
      result.expectations.reset();
      result.exitStatus = kStatusUsage;
      return result;
    }
  }
  for (const std::string& pair : userContext) {
    const std::size_t equals = pair.find('=');
    sweep.userContext.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
  }
  sweep.measurePeak = !noPeak;
  if (affinityOption->count() > 0) sweep.affinity = std::stoi(affinity);
  options.seedGiven = seedOption->count() > 0;
  if (!options.seedGiven) options.seed = static_cast<unsigned>(std::time(nullptr));
  result.options = sweep;
  return result;
}
