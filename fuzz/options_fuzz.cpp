#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ab.hpp"
#include "compare.hpp"
#include "launcher.hpp"
#include "json_context.hpp"
#include "command_line.hpp"

// Any bytes as a command line (arguments separated by NUL bytes), parsed by lubench-report's
// option parsers only: nothing runs and nothing is written but the parsers' own messages.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kMaxArguments = 64;
  std::vector<std::string> arguments{"lubench-report"};
  std::string current;
  for (std::size_t i = 0; i < size && arguments.size() < kMaxArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (arguments.size() < kMaxArguments) arguments.push_back(current);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());
  // The first byte chooses the parser: the sweep's, compare's, ab's, or --out's placeholders
  // (after the first argument, each name followed by a host name).
  if (size > 0 && data[0] == 'p') {
    for (std::size_t i = 2; i + 1 < arguments.size(); i += 2) {
      const ExpandedName expanded = expandPlaceholders(arguments[i], arguments[i + 1], 7);
      if (expanded.error.empty() &&
          expanded.name.find('/') != std::string::npos &&
          arguments[i].find('/') == std::string::npos) {
        __builtin_trap();  // a host name put a '/' into the name
      }
    }
  } else if (size > 0 && data[0] == 'c') {
    parseCompareCommandLine(argc - 1, argv.data() + 1);
  } else if (size > 0 && data[0] == 'a') {
    parseAbCommandLine(argc - 1, argv.data() + 1);
  } else {
    parseCommandLine(argc, argv.data(), isReservedContextKey);
  }
  return 0;
}
