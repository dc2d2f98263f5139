#pragma once

#include <optional>
#include <string>

#include "ab_records.hpp"
#include "ab_session.hpp"
#include "output_target.hpp"
#include "paired.hpp"
#include "subcommand_output.hpp"

// lubench-report ab: two builds measured alternately in one session (ab_session.hpp), with
// paired statistics (paired.hpp) and their numerics checked in the same runs.

// Fewer pairs than this are refused: below six, no order statistics cover the median at 95 %.
inline constexpr int kMinimumPairs = 6;
inline constexpr int kMaximumPairs = 10000;
inline constexpr int kDefaultPairs = 10;
// Each child's limit by default: a build without optimisation takes minutes at the default order.
inline constexpr int kDefaultTimeoutSeconds = 1800;

struct AbCommandLine {
  AbSessionOptions session;
  bool affinityGiven = false;
  std::string format = "text";  // what standard output shows, by its canonical name
  std::optional<double> failAbove;
  std::vector<NamedOut> outs;  // every --out, resolved, neither OLD nor NEW
  std::optional<int> exitStatus;  // set when there is nothing to run
};
// Parses ab's command line (argv[0] is "ab") without running anything; the CPU is left to
// runAb when --affinity is not given.
AbCommandLine parseAbCommandLine(int argc, char** argv);

// What the session found, for the formats and the status.
struct AbReport {
  AbSessionRecord session;
  AbSummary summary;
  std::string date;
  std::string contextText;  // the machine the session ran on, one line of JSON
};

// "text", "md" or "json" (the A/B session's document).
std::string formatAb(const AbReport& report, const std::string& format);

// The first that applies of: 64 (options that do not fit the programs), 128 + signal, 1 (a
// child failed), 3 (fingerprints differ), 2 (a failed residual check), 4 (failAbovePercent: a
// combination significantly slower by more than that share); else 0.
int abStatus(const AbSessionRecord& session, const AbSummary& summary,
             std::optional<double> failAbovePercent);

// The subcommand: argv[0] is "ab". Returns the exit status.
int runAb(int argc, char** argv);
