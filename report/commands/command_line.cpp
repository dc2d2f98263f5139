#include "command_line.hpp"

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <limits>
#include <tuple>

#include "compare.hpp"
#include "lapack_peer.hpp"
#include "launcher.hpp"
#include "output.hpp"
#include "plot.hpp"
#include "program_help.hpp"
#include "text_format.hpp"
#include "vector_paths.hpp"

std::optional<long long> parseWholeNumber(const std::string& text, long long smallest,
                                          long long largest) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < smallest || value > largest) return {};
  return value;
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
    const std::optional<long long> value = parseWholeNumber(item, 1, largest);
    if (!value) {
      list.error = "expected whole numbers from 1 to " + std::to_string(largest) +
                   " separated by commas, got '" + item + "' in '" + text + "'";
      return list;
    }
    if (std::find(list.values.begin(), list.values.end(), *value) != list.values.end()) {
      list.error = "'" + item + "' appears twice in '" + text + "'";
      return list;
    }
    list.values.push_back(static_cast<int>(*value));
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return list;
}

// Accepts parseWholeNumber's numbers and hands them on in canonical form, so that the value
// used is the value checked.
CLI::Validator decimalNumber(long long smallest, long long largest) {
  return CLI::Validator(
      [smallest, largest](std::string& text) -> std::string {
        const std::optional<long long> value = parseWholeNumber(text, smallest, largest);
        if (!value) {
          return "expected a whole number from " + std::to_string(smallest) + " to " +
                 std::to_string(largest) + ", got '" + text + "'";
        }
        text = std::to_string(*value);
        return {};
      },
      std::to_string(smallest) + ".." + std::to_string(largest));
}

// Accepts parseList's lists and keeps the values in values, so that each list is parsed once.
CLI::Validator numberList(int largest, std::vector<int>& values) {
  return CLI::Validator(
      [largest, &values](std::string& text) -> std::string {
        ParsedList list = parseList(text, largest);
        if (list.error.empty()) values = std::move(list.values);
        return list.error;
      },
      "LIST of 1.." + std::to_string(largest));
}

CLI::Validator percentCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (parseFailAbove(text)) return {};
        return "expected per cents from 0 to 1000 in decimal digits with at most one point, got '" +
               printable(text) + "'";
      },
      "PCT");
}

std::optional<int> parseArguments(CLI::App& app, int argc, char** argv, const std::string& name) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    StandardOutput out(kProgram);
    out.write(app.help());
    return out.finish() ? 0 : kStatusSystem;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "%s: %s\n\n%s", name.c_str(), printable(error.what()).c_str(),
                 app.help().c_str());
    return kStatusUsage;
  }
  return std::nullopt;
}

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
  app.add_flag("--json", sweep.json,
               "print the JSON document instead of the table: the context, then every "
               "combination as it finishes");
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
  app.add_flag("--summary", sweep.summaryOnly, "print only the summary row of each combination");
  app.add_option("--format", sweep.rowFormat,
                 "the summary rows alone, as a Markdown table (md) or CSV (csv), instead of the "
                 "table")
      ->check(CLI::IsMember({"table", "md", "csv"}))
      ->excludes("--json");
  std::string outPath, plotPath;
  CLI::Option* outOption =
      app.add_option(
             "--out", outPath,
             "also write the JSON document to FILE (a file under a temporary name beside it "
             "until it is complete; a device or FIFO once, at the end), while standard "
             "output shows the table")
          ->type_name("FILE");
  CLI::Option* plotOption =
      app.add_option("--plot", plotPath,
                     "draw GFLOP/s and efficiency against n into FILE.svg or FILE.png through "
                     "gnuplot")
          ->type_name("FILE");
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
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            if (text == "all" || text == "cores" || parseWholeNumber(text, 1, CPU_SETSIZE)) {
              return {};
            }
            return "expected a count from 1 to " + std::to_string(CPU_SETSIZE) +
                   ", all or cores, got '" + text + "'";
          },
          "N|all|cores"))
      ->excludes(affinityOption)
      ->excludes("--check-reference")
      ->excludes("--compare-lapack");
  std::vector<std::string> userContext;
  app.add_option("--context", userContext,
                 "add KEY=VALUE to the JSON document's context (repeatable)")
      ->type_name("KEY=VALUE")
      ->take_first()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [&isReservedKey](std::string& text) -> std::string {
            const std::size_t equals = text.find('=');
            if (equals == std::string::npos || equals == 0) {
              return "expected KEY=VALUE, got '" + text + "'";
            }
            if (isReservedKey(text.substr(0, equals))) {
              return "'" + text.substr(0, equals) + "' is a key of the context itself";
            }
            return {};
          },
          "KEY=VALUE"));

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
  const auto refuse = [&](const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    result.exitStatus = kStatusUsage;
    return result;
  };
  // --out's {host} and {rank}: one name per node and per rank under any launcher.
  if (outOption->count() > 0) {
    const ExpandedName expanded = expandPlaceholdersHere(outPath);
    if (!expanded.error.empty()) return refuse("--out: " + expanded.error);
    outPath = expanded.name;
  }
  for (const auto& [option, path, target] :
       {std::tuple{outOption, &outPath, &sweep.out}, {plotOption, &plotPath, &sweep.plot}}) {
    if (option->count() == 0) continue;
    TargetResolution resolved = resolveOutputTarget(*path, option->get_name().c_str());
    if (!resolved.target) return refuse(resolved.error);
    *target = std::move(resolved.target);
  }
  if (sweep.out && sweep.plot && sameTarget(*sweep.out, *sweep.plot)) {
    return refuse("--out and --plot name the same file, " + printable(plotPath) +
                  ": each needs its own");
  }
  if (sweep.plot && !plotFormatOf(plotPath)) {
    return refuse("--plot draws .svg or .png files, not '" + printable(plotPath) + "'");
  }
  if (sweep.plot && !gnuplotAvailable()) {
    std::fprintf(stderr, "%s: --plot needs gnuplot (install the Debian package gnuplot-nox)\n",
                 kProgram);
    result.exitStatus = kStatusUsage;
    return result;
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
