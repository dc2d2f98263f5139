#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// What lubench-report ab measures: two builds' runs of the same combinations, one run per child
// process, alternating. Nothing here is computed from other records; paired.hpp summarises them.

enum class AbSide { kOld, kNew };
// "old", "new".
inline const char* sideText(AbSide side) { return side == AbSide::kOld ? "old" : "new"; }

// How a side is run: lubench-report with --json (steps and fingerprint known), or a plain
// benchmark that prints "time_spent1 runtime: N nanoseconds" (its matrix is seeded by the clock,
// so only its timed region means anything).
enum class AbProgram { kReport, kPlain };

struct AbRun {
  double timedNanoseconds = 0;
  std::map<std::string, double> stepNanoseconds;  // empty for a plain benchmark
  std::string fingerprint;                        // empty for a plain benchmark
  bool residualFailed = false;                    // the child's check failed (its status 2)
  long long startNanoseconds = 0;  // the child's start, since the session began (monotonic)
  // The vector path and tile kernel the run chose; empty for a plain benchmark or a document
  // that does not say.
  std::string vectorPath{};
  std::string kernel{};
};

struct AbPair {
  AbRun oldRun;
  AbRun newRun;
  bool oldFirst = true;
};

struct AbCombinationRecord {
  int n = 0;
  int block = 0;
  unsigned seed = 0;
  std::vector<AbPair> pairs;  // the finished pairs, in the order they ran
};

// How the session ended, beside its runs.
struct AbEnding {
  std::optional<std::string> usageError;    // options that cannot apply to the programs found
  int signal = 0;                           // the signal that stopped it, or 0
  std::optional<std::string> childFailure;  // a child failed, hung or wrote no document
  std::optional<std::string> fingerprintMismatch;
  int residualFailures = 0;  // runs whose residual check failed
};

struct AbSessionRecord {
  std::string oldExecutable;
  std::string newExecutable;
  AbProgram oldProgram = AbProgram::kReport;
  AbProgram newProgram = AbProgram::kReport;
  int pairsWanted = 0;
  int cpu = 0;
  double timeoutSeconds = 0;
  unsigned seed = 0;
  bool seedFromClock = false;
  // --vector-path and --kernel as asked ("auto": not passed), and whether each side was given
  // them (its --help lists both; a plain benchmark or an older build is not).
  std::string vectorPathOption = "auto";
  std::string kernelOption = "auto";
  bool oldTakesKernel = false;
  bool newTakesKernel = false;
  // Each side's context as one line of JSON (its first document's), empty for a plain side.
  std::string oldContextText;
  std::string newContextText;
  // The vector paths and kernels each side's build holds (SavedDocument::heldPaths), from the
  // same document.
  std::string oldHeldPaths;
  std::string newHeldPaths;
  std::vector<AbCombinationRecord> combinations;  // those with at least one finished pair
  int combinationsWanted = 0;
  AbEnding ending;

  // The combinations that made every pair asked for; one cut short is not among them.
  std::size_t wholeCombinations() const {
    std::size_t whole = 0;
    for (const AbCombinationRecord& c : combinations) {
      if (static_cast<int>(c.pairs.size()) >= pairsWanted) ++whole;
    }
    return whole;
  }
};
