#include "option_checks.hpp"

#include <sched.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "compare.hpp"
#include "document_reader.hpp"
#include "output.hpp"
#include "program.hpp"
#include "text_format.hpp"

std::optional<long long> parseWholeNumber(const std::string& text, long long smallest,
                                          long long largest) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < smallest || value > largest) return {};
  return value;
}

ParsedList parseList(const std::string& text, int largest) {
  ParsedList list;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(',', begin);
    const std::string item =
        text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    if (item.empty()) {
      list.error = "empty item in '" + text + "'";
      return list;
    }
    const std::optional<long long> value = parseWholeNumber(item, 1, largest);
    if (!value) {
      list.error = "expected whole numbers from 1 to " + std::to_string(largest) +
                   " separated by commas, got '" + item + "' in '" + text + "'";
      return list;
    }
    if (std::find(list.values.begin(), list.values.end(), *value) != list.values.end()) {
      list.error = "'" + item + "' appears twice in '" + text + "'";
      return list;
    }
    list.values.push_back(static_cast<int>(*value));
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return list;
}

// Accepts parseWholeNumber's numbers and hands them on in canonical form, so that the value
// used is the value checked.
CLI::Validator decimalNumber(long long smallest, long long largest) {
  return CLI::Validator(
      [smallest, largest](std::string& text) -> std::string {
        const std::optional<long long> value = parseWholeNumber(text, smallest, largest);
        if (!value) {
          return "expected a whole number from " + std::to_string(smallest) + " to " +
                 std::to_string(largest) + ", got '" + text + "'";
        }
        text = std::to_string(*value);
        return {};
      },
      std::to_string(smallest) + ".." + std::to_string(largest));
}

// Accepts parseList's lists and keeps the values in values, so that each list is parsed once.
CLI::Validator numberList(int largest, std::vector<int>& values) {
  return CLI::Validator(
      [largest, &values](std::string& text) -> std::string {
        ParsedList list = parseList(text, largest);
        if (list.error.empty()) values = std::move(list.values);
        return list.error;
      },
      "LIST of 1.." + std::to_string(largest));
}

CLI::Validator percentCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (parseFailAbove(text)) return {};
        return "expected per cents from 0 to 1000 in decimal digits with at most one point, got '" +
               printable(text) + "'";
      },
      "PCT");
}

std::optional<int> parseArguments(CLI::App& app, int argc, char** argv, const std::string& name) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    StandardOutput out(kProgram);
    out.write(app.help());
    return out.finish() ? 0 : kStatusSystem;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "%s: %s\n\n%s", name.c_str(), printable(error.what()).c_str(),
                 app.help().c_str());
    return kStatusUsage;
  }
  return std::nullopt;
}

CLI::Validator copiesCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "all" || text == "cores" || parseWholeNumber(text, 1, CPU_SETSIZE)) return {};
        return "expected a count from 1 to " + std::to_string(CPU_SETSIZE) +
               ", all or cores, got '" + text + "'";
      },
      "N|all|cores");
}

CLI::Validator contextPairCheck(const std::function<bool(const std::string&)>& isReservedKey) {
  return CLI::Validator(
      [isReservedKey](std::string& text) -> std::string {
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
          return "expected KEY=VALUE, got '" + text + "'";
        }
        if (isReservedKey(text.substr(0, equals))) {
          return "'" + text.substr(0, equals) + "' is a key of the context itself";
        }
        return {};
      },
      "KEY=VALUE");
}

std::optional<SavedExpectations> readExpectationsOption(const std::string& path,
                                                        const std::string& name) {
  DocumentReading reading = readDocumentOf(path, {DocumentKind::kExpectations});
  for (const std::string& warning : reading.warnings) {
    std::fprintf(stderr, "%s: --expect: warning: %s\n", name.c_str(), warning.c_str());
  }
  if (reading.problems.empty() && reading.expectations) return std::move(reading.expectations);
  if (reading.problems.empty()) reading.problems.push_back(printable(path) + ": not usable");
  for (const std::string& problem : reading.problems) {
    std::fprintf(stderr, "%s: --expect: %s\n", name.c_str(), problem.c_str());
  }
  return std::nullopt;
}
