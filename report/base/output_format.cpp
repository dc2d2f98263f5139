#include "output_format.hpp"

#include <algorithm>
#include <cctype>

std::optional<std::string> canonicalFormat(const std::string& given,
                                           const std::vector<std::string>& allowed) {
  const std::string name = given == "table" ? "text" : given;
  if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) return std::nullopt;
  return name;
}

namespace {

bool endsWithIgnoringCase(const std::string& text, const std::string& ending) {
  if (text.size() < ending.size()) return false;
  return std::equal(ending.begin(), ending.end(), text.end() - ending.size(),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

}  // namespace

std::string formatOfOutName(const std::string& path) {
  if (endsWithIgnoringCase(path, ".md")) return "md";
  if (endsWithIgnoringCase(path, ".csv")) return "csv";
  return "json";
}

std::string formatNames(const std::vector<std::string>& allowed) {
  std::string text;
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    if (i > 0) text += i + 1 == allowed.size() ? " or " : ", ";
    text += allowed[i];
  }
  return text;
}
