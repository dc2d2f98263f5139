#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// The records of lubench-report's other documents (an A/B session, a comparison, a fleet's
// report), as the reader (document_reader.hpp) returns them: what a picture of each needs.
// Text is as the document holds it; whoever shows it makes it printable.

// A paired ratio of an A/B session: the median of the pairs' new / old and its interval (none
// below 6 pairs).
struct SavedRatio {
  double median = 0;
  std::optional<double> low;
  std::optional<double> high;
  std::string verdict;  // "faster", "slower", "same"; may be empty
};

// One pair of an A/B session: each side's timed region, and which ran first.
struct SavedPair {
  double oldNanoseconds = 0;
  double newNanoseconds = 0;
  bool oldFirst = true;
};

struct SavedSessionCombination {
  int n = 0;
  int block = 0;
  unsigned seed = 0;
  std::vector<SavedPair> pairs;                // in session order
  std::optional<SavedRatio> ratio;             // of the timed regions
  std::map<std::string, SavedRatio> steps;     // per step's key
};

struct SavedSession {
  // The context's keys that are not null, as text (strings as they are, anything else as JSON).
  std::map<std::string, std::string> context;
  // Each side's build, "0.19.0 1a2b3c4d5e6f", from the context of its first run; empty for a
  // plain benchmark or where the document does not say.
  std::string oldBuild, newBuild;
  std::vector<SavedSessionCombination> combinations;
  bool interrupted = false;
};

// One matched row of a comparison: the change of the median and its verdict.
struct SavedChangeRow {
  int n = 0;
  int block = 0;
  std::string kernelOption = "auto";
  // The seeds each side's runs were given; none in a comparison made before the keys.
  std::optional<unsigned> oldSeed, newSeed;
  double oldMedianNanoseconds = 0;
  double newMedianNanoseconds = 0;
  double change = 0;  // new over old median, less 1
  double shift = 0;   // the Hodges-Lehmann shift over the old median
  std::string verdict;
  bool withinNoise = false;  // significant, but no more than the noise floor: called the same
  // new / old with the runs as independent samples: its interval, where the comparison gives it.
  std::optional<double> ratioLow;
  std::optional<double> ratioHigh;
};

// One document set against the first.
struct SavedComparison {
  std::string oldPath;
  std::string newPath;
  // Each side's context, as a run's context is read; empty in a comparison made before the key.
  std::map<std::string, std::string> oldContext;
  std::map<std::string, std::string> newContext;
  std::vector<SavedChangeRow> rows;
  std::optional<double> geometricMeanRatio;
  std::optional<double> noiseFloorPercent;  // the --noise the verdicts were given
};

struct SavedComparisons {
  std::string date;  // when the comparison was made; empty in an older document
  std::vector<SavedComparison> comparisons;
};

// One node's (or copy's) figure in a fleet's report.
struct SavedFleetEntry {
  std::string node;
  std::optional<int> cpu;
  double medianNanoseconds = 0;
  double overMedian = 0;
  bool slow = false;
  std::string fingerprint;
  std::string vectorPath;
};

struct SavedFleetGroup {
  std::string build;
  bool copies = false;
  double medianNanoseconds = 0;
  std::vector<SavedFleetEntry> entries;
};

struct SavedFleetCombination {
  int n = 0;
  int block = 0;
  unsigned seed = 0;
  std::string kernelOption = "auto";
  std::string majorityFingerprint;  // empty on a tie
  std::vector<SavedFleetGroup> groups;
};

struct SavedFleet {
  std::string date;  // when the report was made; empty in an older document
  int documents = 0;
  double slowerThanPercent = 0;
  std::vector<SavedFleetCombination> combinations;
};
