#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document_reader.hpp"
#include "paired.hpp"
#include "program.hpp"
#include "subcommand_output.hpp"

// lubench-report compare: saved JSON documents set against the first, combination by
// combination (matched by n, block and the kernel asked for), with the Mann–Whitney U test
// telling noise from change and the Hodges–Lehmann estimate telling its direction and size.

// Significance level of the verdicts.
inline constexpr double kSignificance = 0.05;
// Fewer timed runs than this on a side gets a warning: the test then has little power.
inline constexpr int kComparisonRunsWanted = 9;
// Above this many pairs of runs the shift is estimated from kShiftQuantiles evenly spaced
// quantiles of each sample instead of every pair.
inline constexpr std::size_t kExactShiftPairs = 4'000'000;
inline constexpr int kShiftQuantiles = 2000;
// --fail-above and --noise take per cents from 0 to this.
inline constexpr double kLargestFailAbove = 1000;
// The floor of noise between sessions, in per cent of the old median: runs within one session
// vary less than sessions do (the machine's state moves between them), so a shift the test finds
// significant is called a change only beyond this. Sixteen sessions of one build on a shared
// cloud guest moved their medians up to 35 % against each other (docs/performance.md); on a
// quiet machine, measure its own with bench/session-noise.sh and pass --noise.
inline constexpr double kDefaultNoisePercent = 40;
// Exit statuses beside 0 and the usage status.
inline constexpr int kStatusFingerprintMismatch = kStatusFingerprintsDisagree;
inline constexpr int kStatusSlowdown = 4;

struct ComparedRow {
  int n = 0;
  int block = 0;
  std::string kernelOption = "auto";  // the --kernel asked, on both sides
  // The vector path and tile kernel each side ran on; empty where its document does not say.
  std::string oldPath, oldKernel;
  std::string newPath, newKernel;
  double oldMedian = 0;  // timed region, ns
  double newMedian = 0;
  double change = 0;  // new / old median - 1
  // The Hodges–Lehmann estimate of how much longer the new runs take: the median of every
  // difference new - old, in ns, and as a share of the old median.
  double shift = 0;
  double shiftShare = 0;
  double pValue = 1;
  bool pExact = false;  // from the exact distribution of U given the ties, else approximate
  int oldRuns = 0;
  int newRuns = 0;
  Verdict verdict = Verdict::kSame;
  // Significant by the test, but the shift is no more than the noise floor: called the same.
  bool withinNoise = false;
  unsigned oldSeed = 0, newSeed = 0;
  // new / old with the runs taken as independent samples, and its 95 % interval; none for
  // fewer than 2 runs a side.
  std::optional<RatioInterval> ratio;
};

struct ContextDifference {
  std::string key;
  std::string oldValue;  // "(none)" when the key is missing or null
  std::string newValue;
};

struct Comparison {
  std::string oldPath;
  std::string newPath;
  std::vector<ContextDifference> contextDifferences;
  std::vector<ComparedRow> rows;
  std::vector<std::string> onlyInOld;  // "n 4096, block 64" (and ", kernel NAME")
  std::vector<std::string> onlyInNew;
  std::vector<std::string> fingerprintMismatches;
  // Rows whose sides ran on another path or kernel: "n 4096, block 64: avx512, k1 -> avx2, k2".
  std::vector<std::string> ranDifferences;
  std::vector<std::string> warnings;  // the documents' own, then the comparison's
  // Each side's context as one line of JSON, as its document holds it; empty when it has none.
  std::string oldContext, newContext;
  double geometricMeanRatio = 1;      // of new / old medians over the rows
  double noisePercent = kDefaultNoisePercent;  // the floor the verdicts were given
};

// The Hodges–Lehmann shift of after against before: the median of every difference
// after[j] - before[i] (from quantiles beyond kExactShiftPairs pairs). 0 for an empty sample.
double hodgesLehmannShift(const std::vector<double>& before, const std::vector<double>& after);

// Whether share (0.1 for 10 %) is more than percent per cent as printed, to a tenth of a per
// cent: +10.0 % is not more than 10, +10.1 % is.
bool exceedsPercent(double share, double percent);

// The comparison of two documents, a change called only where the test finds it significant
// and the shift is more than noisePercent per cent of the old median (as printed); an error
// message instead when they have no combination in common.
struct ComparisonResult {
  std::optional<Comparison> comparison;
  std::string error;
};
ComparisonResult compareDocuments(const SavedDocument& before, const SavedDocument& after,
                                  double noisePercent = kDefaultNoisePercent);

// The exit status for these comparisons: fingerprint mismatch first, then a significant
// slowdown whose shift exceeds failAbovePercent of the old median (when given), else 0.
int comparisonStatus(const std::vector<Comparison>& comparisons,
                     std::optional<double> failAbovePercent);

// "text", "md" or "json"; the JSON says date, when the comparison was made (null when empty).
std::string formatComparisons(const std::vector<Comparison>& comparisons,
                              const std::string& format, const std::string& date = "");

// --fail-above's value: decimal digits with at most one decimal point, from 0 to
// kLargestFailAbove; nothing for anything else.
std::optional<double> parseFailAbove(const std::string& text);

// compare's command line, parsed without reading any file; on --help or a usage error, the
// status to exit with instead (the help already written, the error said).
struct CompareCommandLine {
  std::vector<std::string> paths;
  std::string format = "text";  // what standard output shows, by its canonical name
  std::vector<NamedOut> outs;    // every --out, resolved, none naming a file compared
  std::optional<double> failAbove;
  double noisePercent = kDefaultNoisePercent;
  std::optional<int> exitStatus;  // set when there is nothing to compare
};
CompareCommandLine parseCompareCommandLine(int argc, char** argv);

// The subcommand: argv[0] is "compare". Returns the exit status.
int runCompare(int argc, char** argv);
