#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

// Runs built programs as a user would, for the driver-level tests.

enum class Stdout { kCaptured, kClosed, kFullDevice };

struct ProcessResult {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out;
  std::string err;
};

// Runs program with the given arguments, its standard output sent as asked, optionally under an
// address-space limit; collects its exit status and both output streams.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         Stdout target = Stdout::kCaptured,
                         rlim_t addressSpaceLimit = RLIM_INFINITY);
