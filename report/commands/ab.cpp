#include "ab.hpp"

#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "command_line.hpp"
#include "compare.hpp"
#include "cpu_affinity.hpp"
#include "interruption.hpp"
#include "json_context.hpp"
#include "machine_context.hpp"
#include "output.hpp"
#include "subcommand_formats.hpp"
#include "program.hpp"
#include "progress.hpp"
#include "subcommand_output.hpp"
#include "text_format.hpp"

namespace {

// The signal that asked the session to stop, or 0. The handler only records it: the session
// stops its child and keeps what finished.
volatile sig_atomic_t stopSignal = 0;

void recordStop(int signal) { stopSignal = signal; }

bool installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = recordStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait for a child wakes at once
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // Ignored when lubench-report started (nohup): ignored by the session and its children too.
    if (sigismember(&signalsIgnoredAtStart(), signal) == 1) continue;
    if (sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

// The CPU the children run on when --affinity is not given: the highest-numbered CPU the process
// may use (CPU 0 tends to take more of the machine's interrupts). -1 when none can be read.
int defaultCpu() {
  const std::vector<int> cpus = allowedCpus();
  return cpus.empty() ? -1 : cpus.back();
}

// The machine the session runs on: the run documents' context without the facts of this
// program's own build, which each side's context holds for its build instead.
std::string sessionContextText(int cpu) {
  SweepContext context;
  context.date = isoDate();
  context.executable = executablePath();
  context.pinnedCpu = cpu;
  context.machine = readMachineContext();
  nlohmann::ordered_json json = contextJson(context);
  for (const char* key :
       {"lubench_version", "git_commit", "git_dirty", "library_build_type", "compiler",
        "compiler_version", "compile_flags", "instruction_sets", "vector_path", "vector_doubles",
        "kernel", "fixed_kernel", "vector_paths", "vector_path_option", "peak_gflops",
        "fused_peak_gflops", "kernel_gflops", "lapack_library", "warnings"}) {
    json.erase(key);
  }
  return jsonText(json);
}

}  // namespace

AbCommandLine parseAbCommandLine(int argc, char** argv) {
  CLI::App app{
      "Measures two builds alternately in one session: OLD and NEW are lubench-report "
      "executables (or plain benchmarks printing \"time_spent1 runtime: N nanoseconds\"), each "
      "run started as its own process, pinned to one CPU, making one untimed warm-up run and "
      "then one timed run (a plain benchmark: an untimed run of its own first), in pairs ordered old-new, new-old, old-new, ... (ABBA, which cancels "
      "a drift linear in time). Per combination: each side's median, the median of the per-pair "
      "ratios NEW/OLD with its distribution-free 95 % interval (slower when it lies above 1, "
      "faster below, else same), the Wilcoxon signed-rank p-value, the same ratio for each step, "
      "and each side's drift. The two builds must give the same fingerprint: status 3 when they "
      "do not; 2 when a residual check fails; 1 when a child fails, hangs or writes no document; "
      "4 with --fail-above.",
      "lubench-report ab"};
  app.option_defaults()->disable_flag_override();
  AbCommandLine result;
  AbSessionOptions& session = result.session;
  session.orders = {kBenchmarkOrder};
  session.blocks = {kBenchmarkBlock};
  session.pairs = kDefaultPairs;
  session.timeoutSeconds = kDefaultTimeoutSeconds;
  std::vector<std::string> executables;
  std::string orders = std::to_string(kBenchmarkOrder), blocks = std::to_string(kBenchmarkBlock);
  std::string failAbove, affinity;
  std::vector<std::string> outPaths;
  int timeout = kDefaultTimeoutSeconds;
  constexpr int kLargestInt = std::numeric_limits<int>::max();
  app.add_option("executables", executables, "OLD NEW: the two builds' executables")
      ->required()
      ->expected(2);
  app.add_option("--n", orders, "order of the matrix, or a comma-separated list of orders (with a plain benchmark "
                 "on either side only its own, 4096)")
      ->check(numberList(kLargestInt, session.orders))
      ->capture_default_str();
  app.add_option("--block", blocks, "column block size, or a comma-separated list of them (with a plain benchmark "
                 "only its own, 32)")
      ->check(numberList(kLargestInt, session.blocks))
      ->capture_default_str();
  CLI::Option* seedOption =
      app.add_option("--seed", session.seed,
                     "seed of the matrix generator, the same for both builds (default: the "
                     "calendar clock as the session starts; not with a plain benchmark, which seeds its own "
                     "matrix from the clock)")
          ->transform(decimalNumber(0, std::numeric_limits<unsigned>::max()));
  app.add_option("--vector-path", session.vectorPath,
                 "passed on to each side whose --help lists --vector-path and --kernel (auto: "
                 "not passed, each side chooses); a side that cannot run it refuses it")
      ->type_name("PATH")
      ->capture_default_str();
  app.add_option("--kernel", session.kernel,
                 "one tile kernel's name, passed on to each side whose --help lists "
                 "--vector-path and --kernel (auto: not passed, each side chooses)")
      ->type_name("NAME")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.find(',') == std::string::npos ? "" : "one kernel, not a list";
          },
          "NAME"))
      ->capture_default_str();
  app.add_option("--pairs", session.pairs,
                 "pairs of runs per combination (at least 6: below that no interval of the "
                 "median reaches 95 %)")
      ->transform(decimalNumber(kMinimumPairs, kMaximumPairs))
      ->capture_default_str();
  app.add_option("--affinity", affinity,
                 "the CPU every run is pinned to (default: the highest-numbered CPU this "
                 "process may use)")
      ->transform(decimalNumber(0, CPU_SETSIZE - 1))
      ->type_name("CPU");
  app.add_option("--timeout", timeout,
                 "seconds each run (warm-up and timed run together) may take before it is "
                 "killed and the session stops with status 1")
      ->transform(decimalNumber(1, 7 * 24 * 3600))
      ->capture_default_str();
  addFormatOption(app, result.format, "the session (json: the session's document)");
  addOutOption(app, outPaths, "the session's JSON document", "never OLD or NEW");
  app.add_option("--fail-above", failAbove,
                 "exit with status 4 when a combination is significantly slower by more than PCT "
                 "per cent (its median pair ratio)")
      ->type_name("PCT")
      ->check(percentCheck());
  result.exitStatus = parseArguments(app, argc, argv, std::string(kProgram) + " ab");
  if (result.exitStatus) return result;
  session.oldExecutable = executables[0];
  session.newExecutable = executables[1];
  session.timeoutSeconds = timeout;
  session.seedFromClock = seedOption->count() == 0;
  if (session.seedFromClock) session.seed = static_cast<unsigned>(std::time(nullptr));
  if (!affinity.empty()) {
    result.affinityGiven = true;
    session.cpu = static_cast<int>(*parseWholeNumber(affinity, 0, CPU_SETSIZE - 1));
  }
  if (!failAbove.empty()) result.failAbove = parseFailAbove(failAbove);
  // The executables as the children will start them, so that --out replaces neither.
  SubcommandOuts outs = resolveSubcommandOuts(
      outPaths, {executableFile(session.oldExecutable), executableFile(session.newExecutable)},
      reportFormats(), std::string(kProgram) + " ab");
  if (outs.refused) result.exitStatus = kStatusUsage;
  result.outs = std::move(outs.outs);
  return result;
}

int abStatus(const AbSessionRecord& session, const AbSummary& summary,
             std::optional<double> failAbovePercent) {
  const AbEnding& ending = session.ending;
  if (ending.usageError) return kStatusUsage;
  if (ending.signal != 0) return 128 + ending.signal;
  if (ending.childFailure) return kStatusSystem;
  if (ending.fingerprintMismatch) return kStatusFingerprintMismatch;
  if (ending.residualFailures > 0) return kStatusFailedCheck;
  if (failAbovePercent) {
    for (const AbCombinationSummary& c : summary.combinations) {
      if (c.ratio.verdict == Verdict::kSlower &&
          exceedsPercent(c.ratio.median - 1, *failAbovePercent)) {
        return kStatusSlowdown;
      }
    }
  }
  return 0;
}

int runAb(int argc, char** argv) {
  AbCommandLine commandLine = parseAbCommandLine(argc, argv);
  if (commandLine.exitStatus) return *commandLine.exitStatus;
  AbSessionOptions& options = commandLine.session;
  if (commandLine.affinityGiven && !mayRunOn(options.cpu)) {
    std::fprintf(stderr, "%s ab: --affinity %d: not a CPU this process may use\n", kProgram,
                 options.cpu);
    return kStatusUsage;
  }
  if (!commandLine.affinityGiven) options.cpu = defaultCpu();
  if (options.cpu < 0) {
    std::perror("lubench-report ab: cannot read the CPUs this process may use");
    return kStatusSystem;
  }
  // The output files are made ready before any run, so that a name that cannot be written
  // costs nothing.
  std::vector<std::unique_ptr<PendingOutput>> outFiles;
  if (!createOuts(commandLine.outs, outFiles, std::string(kProgram) + " ab")) {
    return kStatusSystem;
  }
  if (!installStopHandlers()) {
    std::perror("lubench-report ab: cannot install the signal handlers");
    return kStatusSystem;
  }

  AbReport report;
  report.date = isoDate();
  report.contextText = sessionContextText(options.cpu);
  ProgressDisplay line(stderr, isatty(STDERR_FILENO) == 1,
                       ProgressDisplay::termCanErase(std::getenv("TERM")));
  const auto progress = [&](int combination, int combinations, int pairsDone, int pairs) {
    const int n = options.orders[static_cast<std::size_t>(combination) / options.blocks.size()];
    const int block = options.blocks[static_cast<std::size_t>(combination) % options.blocks.size()];
    line.show(formatText("%s ab: n %d, block %d (%d of %d): pair %d of %d", kProgram, n, block,
                         combination + 1, combinations, std::min(pairsDone + 1, pairs), pairs));
  };
  report.session = runAbSession(options, &stopSignal, progress);
  // A signal the session's ending holds has been answered (the session stopped); one that came
  // after it, or comes from now on, stops a wait for the reader of --out.
  if (report.session.ending.signal != 0) stopSignal = 0;
  line.clear();
  report.summary = summarizeAb(report.session);
  const AbEnding& ending = report.session.ending;
  if (ending.usageError) {
    std::fprintf(stderr, "%s ab: %s\n", kProgram, ending.usageError->c_str());
    return kStatusUsage;
  }

  // What finished is written whatever stopped the session.
  StandardOutput out(kProgram);
  out.write(formatAb(report, commandLine.format));
  bool written = out.finish();
  const bool onStandardOutput = written;
  const std::vector<std::size_t> order = commitOrder(outFiles);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::string& format = commandLine.outs[order[k]].format;
    written = writeKeepingCopy(*outFiles[order[k]], formatAb(report, format),
                               onStandardOutput && commandLine.format == format,
                               format == "json" ? "the session's document"
                                                : "the session's Markdown report",
                               unwrittenAfter(outFiles, order, k), std::string(kProgram) + " ab",
                               &stopSignal) &&
              written;
  }
  if (ending.signal != 0) {
    const std::size_t whole = report.session.wholeCombinations();
    std::fprintf(stderr, "%s ab: interrupted by %s: the %zu finished combination%s kept%s\n",
                 kProgram, signalName(ending.signal), whole, whole == 1 ? "" : "s",
                 report.session.combinations.size() > whole ? ", and the finished pairs of the next"
                                                            : "");
  }
  if (ending.childFailure) {
    std::fprintf(stderr, "%s ab: a run failed, the session stopped: %s\n", kProgram,
                 ending.childFailure->c_str());
  }
  if (ending.fingerprintMismatch) {
    std::fprintf(stderr,
                 "%s ab: FINGERPRINTS DIFFER: the same input gave different bytes: %s\n",
                 kProgram, printable(*ending.fingerprintMismatch).c_str());
  }
  const int status = abStatus(report.session, report.summary, commandLine.failAbove);
  // An output lost ranks below a signal and above everything the runs found.
  return !written && ending.signal == 0 ? kStatusSystem : status;
}
