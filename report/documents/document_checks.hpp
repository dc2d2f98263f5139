#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "saved_document.hpp"

// What the parts of the document reader share: typed lookups of keys, and the one-line messages
// that name the file, the place and what is wrong there. Internal to report/documents.

namespace document_reading {

using json = nlohmann::json;

// Warnings listed per file; one more line says how many were left out.
inline constexpr int kMaxWarningsPerFile = 100;

// A value as it is shown in a message: one line of JSON, at most about 40 characters.
std::string shown(const json& value);
// 16 lower-case hexadecimal digits.
bool isFingerprint(const json& value);
// A name of a vector path or tile kernel, or a kernel option: short and plain, so that it can be
// shown and used in the names of an export as it is.
bool isName(const json& value);

// Collects the problems and warnings of one document, each prefixed with its file's name. Only
// as many are kept as are listed: the rest are counted, so that a document of a million bad runs
// costs no more memory than one of twenty.
class Checker {
 public:
  explicit Checker(const std::string& path);

  void problem(const std::string& where, const std::string& what);
  void warning(const std::string& what);
  bool clean() const { return problems_.empty() && unlistedProblems_ == 0; }

  // The member key of object, which must be there; null after saying so otherwise.
  const json* member(const json& object, const char* key, const std::string& where);
  // A whole number in [smallest, largest] at key of object.
  std::optional<long long> wholeNumber(const json& object, const char* key, long long smallest,
                                       long long largest, const std::string& where);

  // Counts problems and warnings that are not listed (beyond what a part of the reader kept).
  void countUnlisted(std::size_t problems, std::size_t warnings) {
    unlistedProblems_ += problems;
    unlistedWarnings_ += warnings;
  }
  // Takes other's problems and warnings (of the same file) after this one's.
  void absorb(Checker&& other);
  // The reading: document only when there is no problem, and the lines of what was left out.
  DocumentReading finish(std::optional<SavedDocument> document = std::nullopt);

 private:
  void keepProblem(std::string line);
  void keepWarning(std::string line);
  std::string name_;
  std::vector<std::string> problems_;
  std::vector<std::string> warnings_;
  std::size_t unlistedProblems_ = 0;
  std::size_t unlistedWarnings_ = 0;
};

// The name at key of object: empty when it is missing or null, and after a warning when it is
// not a name (what ran is a detail: the timed regions stay usable without it).
std::string nameAt(const json& object, const char* key, const std::string& where, Checker& check);

}  // namespace document_reading
