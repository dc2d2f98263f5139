#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output_target.hpp"
#include "program.hpp"
#include "sweep_options.hpp"

// lubench-report's command line and the parsers of its numbers.

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

// The command line, parsed; on --help or a usage error, the status to exit with instead (the
// help already written to standard output, the error to standard error). isReservedKey tells the
// context's own keys, which --context may not replace.
struct CommandLine {
  std::optional<SweepOptions> options;
  int exitStatus = 0;
};
CommandLine parseCommandLine(int argc, char** argv,
                             const std::function<bool(const std::string&)>& isReservedKey);
