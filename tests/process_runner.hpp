#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

// Runs built programs as a user would, for the driver-level tests.

enum class Stdout { kCaptured, kClosed, kFullDevice };
// kTerminal: a pseudo-terminal, read as the program writes to it.
enum class Stderr { kCaptured, kClosed, kTerminal };

struct ProcessSetup {
  Stdout out = Stdout::kCaptured;
  Stderr err = Stderr::kCaptured;
  rlim_t addressSpaceLimit = RLIM_INFINITY;
  rlim_t stackLimit = RLIM_INFINITY;  // RLIM_INFINITY: the test's own
  // NAME=VALUE settings of the program's environment, beside the test's own.
  std::vector<std::string> environment = {};
  // When not 0, sent to the program once its captured standard output contains signalWhen.
  int signal = 0;
  std::string signalWhen = {};
};

struct ProcessResult {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out;
  std::string err;  // empty when standard error was closed
};

// Runs program with the given arguments and its standard streams set up as asked, optionally
// under an address-space limit; collects its exit status and both output streams.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessSetup& setup = {});
