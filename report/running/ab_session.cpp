#include "ab_session.hpp"

#include <time.h>

#include <cstdlib>
#include <optional>
#include <string_view>

#include "blocking.hpp"
#include "child_process.hpp"
#include "document_reader.hpp"
#include "interruption.hpp"
#include "program.hpp"
#include "text_format.hpp"

namespace {

// Standard error shown with a failed child: enough for any message; a longer one is shown by its
// head and its tail (where the error that ended it usually is), the cut marked.
constexpr std::size_t kShownErrorBytes = 2000;

long long monotonicNanoseconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct Side {
  AbSide side;
  std::string executable;
  AbProgram program = AbProgram::kReport;
  bool warmUpFlag = false;
  bool kernelFlags = false;  // its --help lists --vector-path and --kernel
};

std::string failureText(const std::string& who, const std::vector<std::string>& argv,
                        const ChildResult& result, double timeout, const std::string& what) {
  std::string text = who + ": " + shownCommand(argv) + ": " + what;
  if (what.empty()) text += describeEnding(result, timeout);
  ErrorExcerpt err = errorExcerpt(result, kShownErrorBytes);
  std::string& last = err.cutBytes > 0 ? err.tail : err.head;
  while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) last.pop_back();
  std::string shown = printable(err.head);
  if (err.cutBytes > 0) {
    shown += " [... " + std::to_string(err.cutBytes) + " bytes cut ...] " + printable(err.tail);
  }
  if (!shown.empty()) text += "\n  its standard error:\n    " + shown;
  return text;
}

// Asks side's executable for --help: lubench-report lists --json; a plain benchmark ignores the
// argument, runs, and prints the result line. Empty on success, else what went wrong.
std::string probe(Side& side, const AbSessionOptions& options, const volatile sig_atomic_t* stop) {
  const std::vector<std::string> argv{side.executable, "--help"};
  const ChildResult result =
      runChild({argv, options.cpu, options.timeoutSeconds}, stop, &signalsIgnoredAtStart());
  const std::string who = std::string("the ") + sideText(side.side) + " build";
  if (result.ending == ChildResult::Ending::kInterrupted) return {};
  if (result.ending == ChildResult::Ending::kExited && result.status == 0 &&
      result.out.find("--json") != std::string::npos &&
      result.out.find("lubench-report") != std::string::npos) {
    side.program = AbProgram::kReport;
    side.warmUpFlag = result.out.find("--warm-up") != std::string::npos;
    side.kernelFlags = result.out.find("--vector-path") != std::string::npos &&
                       result.out.find("--kernel") != std::string::npos;
    return {};
  }
  if (result.ending == ChildResult::Ending::kExited && result.status == 0 &&
      resultLineNanoseconds(result.out) > 0) {
    side.program = AbProgram::kPlain;
    return {};
  }
  return failureText(who, argv, result, options.timeoutSeconds,
                     result.ending == ChildResult::Ending::kExited && result.status == 0
                         ? "is neither lubench-report (its --help lists no --json) nor a "
                           "benchmark printing \"time_spent1 runtime: N nanoseconds\""
                         : "");
}

// Why the options cannot be passed on when a side is a plain benchmark, which ignores its
// arguments and runs its own matrix (order 4096, block 32, seeded from the calendar clock); none
// when they fit.
std::optional<std::string> plainSideRefusal(const AbSessionOptions& options, const Side sides[2]) {
  const Side& plain = sides[0].program == AbProgram::kPlain ? sides[0] : sides[1];
  const std::string which = std::string("the ") + sideText(plain.side) + " build is a plain " +
                            "benchmark, which takes no arguments and runs its own matrix (n " +
                            std::to_string(kBenchmarkOrder) + ", block " +
                            std::to_string(kBenchmarkBlock) + ", seeded from the clock): ";
  if (options.orders.size() * options.blocks.size() > 1) {
    return which + "give one --n and one --block with it, or none";
  }
  if (options.orders.front() != kBenchmarkOrder) {
    return which + "--n " + std::to_string(options.orders.front()) +
           " cannot be passed on to it; leave --n out";
  }
  if (options.blocks.front() != kBenchmarkBlock) {
    return which + "--block " + std::to_string(options.blocks.front()) +
           " cannot be passed on to it; leave --block out";
  }
  if (!options.seedFromClock) {
    return which + "--seed cannot be passed on to it; leave --seed out";
  }
  return std::nullopt;
}

struct RunOutcome {
  std::optional<AbRun> run;
  std::string failure;  // a child that failed, hung or wrote no document
  bool interrupted = false;
  std::string contextText;  // a report's context
  std::string heldPaths;    // and what its build holds
};

// A plain benchmark's run: one untimed warm-up run, as a report side makes inside its own
// process, then the timed run in what is left of the limit; the result line of the second.
RunOutcome runPlain(const Side& side, int pairIndex, const AbSessionOptions& options,
                    long long sessionStart, const volatile sig_atomic_t* stop) {
  RunOutcome outcome;
  const std::vector<std::string> argv{side.executable};
  const std::string who = std::string("the ") + sideText(side.side) + " build, pair " +
                          std::to_string(pairIndex + 1);
  const long long begun = monotonicNanoseconds();
  double limit = options.timeoutSeconds;
  for (const bool warmUp : {true, false}) {
    AbRun run;
    run.startNanoseconds = monotonicNanoseconds() - sessionStart;
    const ChildResult result = runChild({argv, options.cpu, limit}, stop, &signalsIgnoredAtStart());
    if (result.ending == ChildResult::Ending::kInterrupted || (stop != nullptr && *stop != 0)) {
      outcome.interrupted = true;
      return outcome;
    }
    const bool exited = result.ending == ChildResult::Ending::kExited;
    run.timedNanoseconds = resultLineNanoseconds(result.out);
    if (!exited || result.status != 0 || run.timedNanoseconds <= 0) {
      outcome.failure = failureText(
          who + (warmUp ? " (its untimed warm-up run)" : ""), argv, result,
          options.timeoutSeconds,
          exited && result.status == 0 ? "printed no \"time_spent1 runtime: N nanoseconds\" line"
                                       : "");
      return outcome;
    }
    if (!warmUp) {
      outcome.run = run;
      return outcome;
    }
    limit = options.timeoutSeconds - static_cast<double>(monotonicNanoseconds() - begun) / 1e9;
    if (limit <= 0) {
      outcome.failure = failureText(who, argv, result, options.timeoutSeconds,
                                    "took the whole --timeout in its untimed warm-up run");
      return outcome;
    }
  }
  return outcome;
}

RunOutcome runOne(const Side& side, const AbCombinationRecord& combination, int pairIndex,
                  const AbSessionOptions& options, bool warmUpFlag, long long sessionStart,
                  const volatile sig_atomic_t* stop) {
  if (side.program == AbProgram::kPlain) {
    return runPlain(side, pairIndex, options, sessionStart, stop);
  }
  RunOutcome outcome;
  const std::vector<std::string> argv =
      reportArguments(side.executable, combination.n, combination.block, combination.seed,
                      warmUpFlag, ForwardedChoice{side.kernelFlags, options.vectorPath, options.kernel});
  AbRun run;
  run.startNanoseconds = monotonicNanoseconds() - sessionStart;
  const ChildResult result =
      runChild({argv, options.cpu, options.timeoutSeconds}, stop, &signalsIgnoredAtStart());
  if (result.ending == ChildResult::Ending::kInterrupted || (stop != nullptr && *stop != 0)) {
    outcome.interrupted = true;
    return outcome;
  }
  const std::string who = std::string("the ") + sideText(side.side) + " build, pair " +
                          std::to_string(pairIndex + 1);
  const bool exited = result.ending == ChildResult::Ending::kExited;
  // lubench-report: 0, or 2 for a failed check, with its document either way.
  if (!exited || (result.status != 0 && result.status != kStatusFailedCheck)) {
    outcome.failure = failureText(who, argv, result, options.timeoutSeconds, "");
    return outcome;
  }
  const DocumentReading reading = parseDocument(result.out, who + "'s output");
  const SavedCombination* found = nullptr;
  if (reading.document) {
    for (const SavedCombination& c : reading.document->combinations) {
      if (c.n == combination.n && c.block == combination.block &&
          c.kernelOption == (side.kernelFlags ? options.kernel : "auto")) {
        found = &c;
      }
    }
  }
  if (result.outTruncated || found == nullptr) {
    const std::string why = result.outTruncated      ? "wrote more than a document may hold"
                            : !reading.problems.empty() ? "wrote no document: " + reading.problems[0]
                                                        : "wrote a document without the run asked for";
    outcome.failure = failureText(who, argv, result, options.timeoutSeconds, why);
    return outcome;
  }
  run.timedNanoseconds = found->timedNanoseconds.front();
  run.stepNanoseconds = found->stepNanoseconds.front();
  run.fingerprint = found->fingerprint;
  run.residualFailed = result.status == kStatusFailedCheck;
  run.vectorPath = found->vectorPath;
  run.kernel = found->kernel;
  outcome.run = run;
  outcome.contextText = reading.document->contextText;
  outcome.heldPaths = reading.document->heldPaths;
  return outcome;
}

}  // namespace

std::vector<std::string> reportArguments(const std::string& executable, int n, int block,
                                         unsigned seed, bool warmUpFlag,
                                         const ForwardedChoice& choice) {
  std::vector<std::string> argv{executable,   "--n",    std::to_string(n),
                                "--block",    std::to_string(block),
                                "--seed",     std::to_string(seed),
                                "--no-peak",  "--json"};
  if (warmUpFlag) {
    argv.insert(argv.end(), {"--repeat", "1", "--warm-up"});
  } else {
    argv.insert(argv.end(), {"--repeat", "2"});
  }
  if (choice.accepted && choice.vectorPath != "auto") {
    argv.insert(argv.end(), {"--vector-path", choice.vectorPath});
  }
  if (choice.accepted && choice.kernel != "auto")
    argv.insert(argv.end(), {"--kernel", choice.kernel});
  return argv;
}

double resultLineNanoseconds(const std::string& text) {
  static constexpr std::string_view kPrefix = "time_spent1 runtime: ";
  static constexpr std::string_view kSuffix = " nanoseconds";
  double found = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.starts_with(kPrefix) || !line.ends_with(kSuffix)) continue;
    const std::string_view digits =
        line.substr(kPrefix.size(), line.size() - kPrefix.size() - kSuffix.size());
    if (digits.empty() || digits.size() > 19 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      continue;
    }
    const double value = std::strtod(std::string(digits).c_str(), nullptr);
    if (value > 0) found = value;
  }
  return found;
}

std::string shownCommand(const std::vector<std::string>& argv) {
  std::string out;
  for (const std::string& word : argv) {
    if (!out.empty()) out += ' ';
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=,:+@") == std::string::npos;
    if (plain) {
      out += word;
      continue;
    }
    out += '\'';
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += '\'';
  }
  return printable(out);
}

AbSessionRecord runAbSession(const AbSessionOptions& options, const volatile sig_atomic_t* stop,
                             const AbProgressCallback& progress) {
  AbSessionRecord session;
  session.oldExecutable = options.oldExecutable;
  session.newExecutable = options.newExecutable;
  session.pairsWanted = options.pairs;
  session.cpu = options.cpu;
  session.timeoutSeconds = options.timeoutSeconds;
  session.seed = options.seed;
  session.seedFromClock = options.seedFromClock;
  session.vectorPathOption = options.vectorPath;
  session.kernelOption = options.kernel;
  session.combinationsWanted = static_cast<int>(options.orders.size() * options.blocks.size());
  AbEnding& ending = session.ending;
  const auto stopped = [&] {
    if (stop != nullptr && *stop != 0) ending.signal = *stop;
    return ending.signal != 0;
  };

  Side sides[2] = {{AbSide::kOld, options.oldExecutable}, {AbSide::kNew, options.newExecutable}};
  for (Side& side : sides) {
    std::string failure = probe(side, options, stop);
    if (stopped()) return session;
    if (!failure.empty()) {
      ending.childFailure = std::move(failure);
      return session;
    }
  }
  session.oldProgram = sides[0].program;
  session.newProgram = sides[1].program;
  session.oldTakesKernel = sides[0].kernelFlags;
  session.newTakesKernel = sides[1].kernelFlags;
  const bool anyPlain =
      sides[0].program == AbProgram::kPlain || sides[1].program == AbProgram::kPlain;
  if (anyPlain) {
    if (std::optional<std::string> refusal = plainSideRefusal(options, sides)) {
      ending.usageError = std::move(refusal);
      return session;
    }
  }
  // The same arguments on both sides: --warm-up only when both builds know it.
  const bool warmUpFlag = sides[0].warmUpFlag && sides[1].warmUpFlag;
  const long long sessionStart = monotonicNanoseconds();

  int index = 0;
  for (int n : options.orders) {
    for (int block : options.blocks) {
      AbCombinationRecord combination{n, block, options.seed, {}};
      std::string firstFingerprint;
      AbSide firstSide = AbSide::kOld;
      for (int pair = 0; pair < options.pairs; ++pair) {
        if (progress) progress(index, session.combinationsWanted, pair, options.pairs);
        AbPair done;
        done.oldFirst = pair % 2 == 0;  // ABBA: old, new; new, old; old, new; ...
        const Side* order[2] = {&sides[done.oldFirst ? 0 : 1], &sides[done.oldFirst ? 1 : 0]};
        for (const Side* side : order) {
          RunOutcome outcome =
              runOne(*side, combination, pair, options, warmUpFlag, sessionStart, stop);
          if (outcome.interrupted) {
            stopped();
            break;
          }
          if (!outcome.failure.empty()) {
            ending.childFailure = std::move(outcome.failure);
            break;
          }
          AbRun& run = side->side == AbSide::kOld ? done.oldRun : done.newRun;
          run = std::move(*outcome.run);
          std::string& context =
              side->side == AbSide::kOld ? session.oldContextText : session.newContextText;
          if (context.empty()) {
            context = std::move(outcome.contextText);
            (side->side == AbSide::kOld ? session.oldHeldPaths : session.newHeldPaths) =
                std::move(outcome.heldPaths);
          }
          if (run.residualFailed) ++ending.residualFailures;
          // The same n, block and seed give the same bytes on every build: a run that differs
          // from the combination's first stops the session.
          if (anyPlain || run.fingerprint.empty()) continue;
          if (firstFingerprint.empty()) {
            firstFingerprint = run.fingerprint;
            firstSide = side->side;
          } else if (run.fingerprint != firstFingerprint) {
            ending.fingerprintMismatch =
                "n " + std::to_string(n) + ", block " + std::to_string(block) + ", seed " +
                std::to_string(options.seed) + ": the " + sideText(firstSide) + " build gave " +
                firstFingerprint + ", the " + sideText(side->side) + " build " + run.fingerprint +
                " (pair " + std::to_string(pair + 1) + ")";
            break;
          }
        }
        if (ending.signal != 0 || ending.childFailure || ending.fingerprintMismatch) break;
        combination.pairs.push_back(std::move(done));
      }
      if (!combination.pairs.empty()) session.combinations.push_back(std::move(combination));
      if (ending.signal != 0 || ending.childFailure || ending.fingerprintMismatch) return session;
      if (progress) progress(index, session.combinationsWanted, options.pairs, options.pairs);
      ++index;
    }
  }
  return session;
}
