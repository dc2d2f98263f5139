#include "document_checks.hpp"

#include <climits>
#include <cstdint>

#include "text_format.hpp"

namespace document_reading {

std::string shown(const json& value) {
  std::string text = printable(jsonText(value));
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

bool isFingerprint(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool isName(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return !text.empty() && text.size() <= 64 &&
         text.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             "_.+-") == std::string::npos;
}

Checker::Checker(const std::string& path) : name_(printable(path)) {}

void Checker::keepProblem(std::string line) {
  if (problems_.size() < static_cast<std::size_t>(kMaxProblemsPerFile)) {
    problems_.push_back(std::move(line));
  } else {
    ++unlistedProblems_;
  }
}

void Checker::keepWarning(std::string line) {
  if (warnings_.size() < static_cast<std::size_t>(kMaxWarningsPerFile)) {
    warnings_.push_back(std::move(line));
  } else {
    ++unlistedWarnings_;
  }
}

void Checker::problem(const std::string& where, const std::string& what) {
  if (problems_.size() >= static_cast<std::size_t>(kMaxProblemsPerFile)) {
    ++unlistedProblems_;
    return;
  }
  keepProblem(name_ + ": " + where + (where.empty() ? "" : ": ") + what);
}

void Checker::warning(const std::string& what) {
  if (warnings_.size() >= static_cast<std::size_t>(kMaxWarningsPerFile)) {
    ++unlistedWarnings_;
    return;
  }
  keepWarning(name_ + ": " + what);
}

const json* Checker::member(const json& object, const char* key, const std::string& where) {
  const auto found = object.find(key);
  if (found == object.end()) {
    problem(where, std::string("\"") + key + "\" is missing");
    return nullptr;
  }
  return &*found;
}

std::optional<long long> Checker::wholeNumber(const json& object, const char* key,
                                              long long smallest, long long largest,
                                              const std::string& where) {
  const json* value = member(object, key, where);
  if (value == nullptr) return std::nullopt;
  std::optional<long long> number;
  if (value->is_number_unsigned()) {
    const auto u = value->get<std::uint64_t>();
    if (u <= static_cast<std::uint64_t>(LLONG_MAX)) number = static_cast<long long>(u);
  } else if (value->is_number_integer()) {
    number = value->get<std::int64_t>();
  }
  if (!number || *number < smallest || *number > largest) {
    problem(where, std::string("\"") + key + "\" must be a whole number from " +
                       std::to_string(smallest) + " to " + std::to_string(largest) + ", not " +
                       shown(*value));
    return std::nullopt;
  }
  return number;
}

void Checker::absorb(Checker&& other) {
  for (std::string& line : other.problems_) keepProblem(std::move(line));
  for (std::string& line : other.warnings_) keepWarning(std::move(line));
  unlistedProblems_ += other.unlistedProblems_;
  unlistedWarnings_ += other.unlistedWarnings_;
  other.problems_.clear();
  other.warnings_.clear();
  other.unlistedProblems_ = other.unlistedWarnings_ = 0;
}

DocumentReading Checker::finish(std::optional<SavedDocument> document) {
  DocumentReading reading;
  const auto more = [&](std::size_t count, const char* what) {
    return name_ + ": " + std::to_string(count) + " more " + what + (count == 1 ? "" : "s") +
           " not listed";
  };
  reading.problems = std::move(problems_);
  if (unlistedProblems_ > 0) reading.problems.push_back(more(unlistedProblems_, "problem"));
  reading.warnings = std::move(warnings_);
  if (unlistedWarnings_ > 0) reading.warnings.push_back(more(unlistedWarnings_, "warning"));
  if (reading.problems.empty()) reading.document = std::move(document);
  return reading;
}

std::string nameAt(const json& object, const char* key, const std::string& where, Checker& check) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return {};
  if (isName(*found)) return found->get<std::string>();
  check.warning(where + ": \"" + key + "\" left out: " + shown(*found) + " is not a name");
  return {};
}

}  // namespace document_reading
