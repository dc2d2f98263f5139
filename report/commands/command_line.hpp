#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "option_checks.hpp"
#include "output_target.hpp"
#include "program.hpp"
#include "saved_expectations.hpp"
#include "sweep_options.hpp"

// lubench-report's command line (its number parsers: option_checks.hpp; its outputs:
// output_options.hpp).

// The command line, parsed; on --help or a usage error, the status to exit with instead (the
// help already written to standard output, the error to standard error). isReservedKey tells the
// context's own keys, which --context may not replace.
struct CommandLine {
  std::optional<SweepOptions> options;
  std::optional<SavedExpectations> expectations;  // --expect, read before anything runs
  int exitStatus = 0;
};
CommandLine parseCommandLine(int argc, char** argv,
                             const std::function<bool(const std::string&)>& isReservedKey);
