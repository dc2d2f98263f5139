#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "saved_expectations.hpp"
#include "saved_reports.hpp"

// The records of a saved run's document, as the reader (document_reader.hpp) returns them.

// Documents larger than this are refused unread: a sweep of a thousand combinations of a
// thousand runs each stays well below it.
inline constexpr std::size_t kMaxDocumentBytes = 256u << 20;
// Problems listed per file; one more line says how many were left out.
inline constexpr int kMaxProblemsPerFile = 20;
// Timed regions above this (about 31 years) are taken for a fault, not a measurement.
inline constexpr double kMaxTimedNanoseconds = 1e18;

// One copy of a combination run beside the others (lubench-report --copies).
struct SavedCopy {
  int cpu = 0;
  std::optional<int> core;
  std::string fingerprint;  // empty when the copy made no run
  double medianNanoseconds = 0;  // of its timed runs; 0 when it made none
  bool finished = false;
  std::string died;  // how a dead copy ended, as its document says; may be empty
};

// One combination of order, block and asked kernel with at least one timed run.
struct SavedCombination {
  int n = 0;
  int block = 0;
  unsigned seed = 0;
  std::string fingerprint;               // 16 hexadecimal digits
  std::vector<double> timedNanoseconds;  // each run's timed region, > 0 and finite, never empty
  // Each run's step times in ns by the step's key ("pivots", "trailing_sweep", ...), beside
  // timedNanoseconds; a run without usable step times has an empty map (and a warning).
  std::vector<std::map<std::string, double>> stepNanoseconds;
  // With --copies: each copy, read leniently (a malformed copies object is left out with a
  // warning: the single copy's runs stay usable).
  std::vector<SavedCopy> copies;
  // The --kernel asked: "auto" (as in documents written before the key existed) or a kernel's
  // name. Part of the combination's identity beside n and block.
  std::string kernelOption = "auto";
  // The vector path and tile kernel the runs ran on; in an older document the path is its
  // build's (it held only one). Empty where the document does not say.
  std::string vectorPath{};
  std::string kernel{};
  // The measured peak (separate multiplies and adds) and LAPACK's median rate, when the
  // document gives them.
  std::optional<double> peakGflops{};
  std::optional<double> lapackGflops{};
};

// "n 4096, block 32", and ", kernel NAME" when a kernel was asked for.
std::string combinationName(int n, int block, const std::string& kernelOption);
std::string combinationName(const SavedCombination& combination);

struct SavedDocument {
  std::string path;  // as given
  int schemaVersion = 0;
  // Every key of the context that is not null, with its value as text: strings as they are,
  // anything else as one line of JSON.
  std::map<std::string, std::string> context;
  std::string contextText;  // the whole context object as one line of JSON
  std::vector<SavedCombination> combinations;  // in document order, each key once
  bool interrupted = false;
  // The vector paths and tile kernels the build holds, "avx512: k1, k2; avx2: k3", each path's
  // default kernel first; in an older document its one vector_path. Empty when neither is there.
  std::string heldPaths;
};

// The kinds of document lubench-report writes, by their "document_kind".
enum class DocumentKind { kRun, kAbSession, kComparison, kFleet, kExpectations };

struct DocumentReading {
  DocumentKind kind = DocumentKind::kRun;
  // Only when problems is empty: the records of the document's kind, the others empty.
  std::optional<SavedDocument> document;
  std::optional<SavedSession> session;
  std::optional<SavedComparisons> comparisons;
  std::optional<SavedFleet> fleet;
  std::optional<SavedExpectations> expectations;
  // One line each, naming the file, the combination and the key; at most kMaxProblemsPerFile
  // and a line saying how many more.
  std::vector<std::string> problems;
  // What the document may hide: an interrupted sweep, combinations left out for want of runs.
  std::vector<std::string> warnings;
};

