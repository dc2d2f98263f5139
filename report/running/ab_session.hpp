#pragma once

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "ab_records.hpp"

// lubench-report ab's runs: two builds' executables, each run in its own child process pinned to
// one CPU, alternating in pairs ordered ABBA (old first, then new first, and so on), so that a
// drift of the machine that is linear in time falls equally on both sides of every two pairs.

struct AbSessionOptions {
  std::string oldExecutable;
  std::string newExecutable;
  std::vector<int> orders;
  std::vector<int> blocks;
  unsigned seed = 0;
  bool seedFromClock = false;
  int pairs = 10;
  int cpu = 0;
  double timeoutSeconds = 600;
  std::string vectorPath = "auto";  // passed on as --vector-path unless auto
  std::string kernel = "auto";      // passed on as --kernel unless auto
};

// What a report side is given beyond the combination: the path and kernel asked for, to a side
// whose --help lists --vector-path and --kernel.
struct ForwardedChoice {
  bool accepted = false;
  std::string vectorPath = "auto";
  std::string kernel = "auto";
};

// Between runs, never inside one: the combination (index of count) and the pairs finished.
using AbProgressCallback =
    std::function<void(int combination, int combinations, int pairsDone, int pairs)>;

// What a report side is asked for, beside the combination: one warm-up run, then one timed run.
// A build whose --help does not list --warm-up gets "--repeat 2" instead on both sides (a warm-up
// run comes with more than one timed run), and the first timed run is taken.
// With choice.accepted, "--vector-path" and "--kernel" follow for each that is not auto.
std::vector<std::string> reportArguments(const std::string& executable, int n, int block,
                                         unsigned seed, bool warmUpFlag,
                                         const ForwardedChoice& choice = {});

// The timed region of the last "time_spent1 runtime: N nanoseconds" line of text; 0 when there
// is none.
double resultLineNanoseconds(const std::string& text);

// A command as it is shown in a message: each word quoted when it is not plain.
std::string shownCommand(const std::vector<std::string>& argv);

// Runs the session. Stops at once, keeping every finished pair, when stop is raised, a child
// fails, hangs or writes no document, or the sides' fingerprints differ; the record's ending
// says which. First each executable is asked for --help, which tells lubench-report from a plain
// benchmark (which ignores its arguments and runs once).
AbSessionRecord runAbSession(const AbSessionOptions& options, const volatile sig_atomic_t* stop,
                             const AbProgressCallback& progress);
