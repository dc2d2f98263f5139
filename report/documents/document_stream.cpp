#include "document_stream.hpp"

namespace document_reading {

bool DocumentStream::operator()(int depth, json::parse_event_t event, json& parsed) {
  const auto d = static_cast<std::size_t>(depth);
  switch (event) {
    case json::parse_event_t::key:
      if (keys_.size() <= d) keys_.resize(d + 1);
      keys_[d] = parsed.get<std::string>();
      return true;
    case json::parse_event_t::object_start:
    case json::parse_event_t::array_start:
      start(d, event == json::parse_event_t::array_start);
      return true;
    case json::parse_event_t::object_end:
    case json::parse_event_t::array_end:
      levels_.pop_back();
      return completed(d, parsed);
    case json::parse_event_t::value:
      return completed(d, parsed);
  }
  return true;
}

void DocumentStream::start(std::size_t d, bool array) {
  if (d >= static_cast<std::size_t>(kMaxNesting)) {
    throw Refused{"is nested deeper than " + std::to_string(kMaxNesting) + " levels"};
  }
  Role role = Role::kOther;
  const bool inObject = d > 0 && !arrays_[d - 1] && keys_.size() > d;
  const std::string key = inObject ? keys_[d] : std::string();
  if (d == 1 && inObject && array && key == "benchmarks") {
    role = Role::kBenchmarks;
    // A later "benchmarks" replaces an earlier one, as it does in the tree.
    benchmarks_ = {};
    check_ = Checker(path_);
  } else if (d == 2 && levels_[1].role == Role::kBenchmarks && !array) {
    role = Role::kBenchmark;
    runs_ = {};
  } else if (d == 3 && levels_[2].role == Role::kBenchmark && array && key == "runs") {
    // A later "runs" replaces an earlier one.
    role = Role::kRuns;
    runs_ = {};
  } else if (d > 3 && levels_[1].role == Role::kBenchmarks && array && key == "runs") {
    role = Role::kUnreadRuns;
  }
  levels_.push_back(Level{role, 0});
  if (arrays_.size() <= d) arrays_.resize(d + 1);
  arrays_[d] = array;
}

bool DocumentStream::completed(std::size_t d, json& parsed) {
  if (d == 0) return true;
  if (d == 1 && !arrays_[0] && keys_.size() > 1 && keys_[1] == "benchmarks") {
    streamed_ = parsed.is_array();
  }
  Level& parent = levels_[d - 1];
  switch (parent.role) {
    case Role::kRuns:
      readRun(parsed, runs_);
      return false;
    case Role::kBenchmarks:
      readBenchmark(parsed, parent.entries++, runs_, benchmarks_, check_);
      runs_ = {};
      return false;
    case Role::kUnreadRuns:
      return false;
    default:
      break;
  }
  if (++parent.entries > kMaxEntries) {
    throw Refused{"holds an array or object of more than " + std::to_string(kMaxEntries) +
                  " entries outside the runs"};
  }
  return true;
}

}  // namespace document_reading
