#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "document_checks.hpp"
#include "run_reader.hpp"

// Follows nlohmann's parser through a document, as its parser callback: reads each benchmark,
// and each of its runs, as soon as the parser has completed it and drops it from the tree being
// built, so that the tree holds the context but no runs (the runs of copies are not read at
// all). Internal to report/documents.

namespace document_reading {

// Nesting, and entries of one array or object (beside the benchmarks and their runs), beyond
// what any document holds: refused as they are parsed, before they can fill the memory.
inline constexpr int kMaxNesting = 128;
inline constexpr std::size_t kMaxEntries = 100000;

// Thrown from the callback when the document is refused as it is parsed.
struct Refused {
  std::string why;
};

class DocumentStream {
 public:
  explicit DocumentStream(const std::string& path) : path_(path), check_(path) {}

  // The callback: false drops the value just completed from the tree. Throws Refused.
  bool operator()(int depth, json::parse_event_t event, json& parsed);

  // Whether the root object's (last) "benchmarks" is an array, whose entries were read here.
  bool streamed() const { return streamed_; }
  BenchmarksSoFar& benchmarks() { return benchmarks_; }
  Checker& checker() { return check_; }

 private:
  enum class Role { kOther, kBenchmarks, kBenchmark, kRuns, kUnreadRuns };
  struct Level {
    Role role = Role::kOther;
    std::size_t entries = 0;
  };

  // An array or object opens at depth d.
  void start(std::size_t d, bool array);
  // A value at depth d is complete: false drops it.
  bool completed(std::size_t d, json& parsed);

  std::string path_;
  std::vector<Level> levels_;      // the arrays and objects open, outermost first
  std::vector<bool> arrays_;       // whether the one at each depth is an array
  std::vector<std::string> keys_;  // the key of the member being parsed at each depth
  RunsSoFar runs_;
  BenchmarksSoFar benchmarks_;
  Checker check_;
  bool streamed_ = false;
};

}  // namespace document_reading
