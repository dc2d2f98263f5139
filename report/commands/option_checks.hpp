#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "saved_expectations.hpp"

// The number parsers and CLI11 checks every command of lubench-report shares.

namespace CLI {
class App;
class Validator;
}

// Parses argv with app: nothing when the arguments are good; on --help, the help written to
// standard output and status 0 (1 when it could not be written); on a usage error, one line
// beginning with name, then the help, on standard error, and status 64.
std::optional<int> parseArguments(CLI::App& app, int argc, char** argv, const std::string& name);

// A whole number in [smallest, largest] written in decimal digits only (leading zeros are
// decimal, never octal); nothing for anything else.
std::optional<long long> parseWholeNumber(const std::string& text, long long smallest,
                                          long long largest);

// A CLI11 check that accepts parseWholeNumber's numbers and hands them on in canonical form, so
// that the value used is the value checked.
CLI::Validator decimalNumber(long long smallest, long long largest);

// A CLI11 check that accepts per cents as parseFailAbove (compare.hpp) reads them.
CLI::Validator percentCheck();

// A comma-separated list of distinct whole numbers in [1, largest], each parseWholeNumber.
struct ParsedList {
  std::vector<int> values;
  std::string error;  // empty when the list is good
};
ParsedList parseList(const std::string& text, int largest);
// A CLI11 check that accepts parseList's lists and keeps the values in values, so that each list
// is parsed once.
CLI::Validator numberList(int largest, std::vector<int>& values);

// A CLI11 check of --copies: a count from 1 to CPU_SETSIZE, "all" or "cores".
CLI::Validator copiesCheck();

// A CLI11 check of --context: KEY=VALUE with a key that is not empty and not one isReservedKey
// tells is the context's own.
CLI::Validator contextPairCheck(const std::function<bool(const std::string&)>& isReservedKey);

// The reference bands' document --expect names, read through the one document reader (a FIFO,
// a device or an oversized file refused without waiting): its entries, each warning said on
// standard error; nothing after a line there for each problem ("NAME: --expect: ...").
std::optional<SavedExpectations> readExpectationsOption(const std::string& path,
                                                        const std::string& name);
