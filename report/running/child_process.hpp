#pragma once

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

// One child process, started without a shell and waited for: its standard output and error
// captured, its CPU fixed before it starts, its time limited, and stopped when the caller's stop
// flag is raised by a signal.

struct ChildCommand {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH when it holds no '/'
  std::optional<int> cpu;         // pinned to this CPU before the program starts
  double timeoutSeconds = 600;
  std::size_t maxOutputBytes = 256u << 20;  // standard output kept; the rest is read and dropped
};

struct ChildResult {
  enum class Ending {
    kExited,       // status holds the exit status
    kSignalled,    // status holds the signal that ended it
    kTimedOut,     // killed after timeoutSeconds
    kInterrupted,  // *stop was raised: the child was stopped (SIGTERM, then SIGKILL)
    kNotStarted,   // startError says why (no such file, not executable, the CPU refused)
  };
  Ending ending = Ending::kNotStarted;
  int status = 0;
  std::string out;
  std::string err;  // the first kMaxErrorBytes of standard error
  bool outTruncated = false;
  std::string startError;
};

// Standard error kept per child: enough for any message, bounded for a child that floods it.
inline constexpr std::size_t kMaxErrorBytes = 64 * 1024;
// After SIGTERM a stopped child has this long to end before SIGKILL.
inline constexpr int kStopGraceMilliseconds = 2000;

// Runs command and waits for it. stop, when not null, is polled while waiting (a handler that
// sets it should be installed without SA_RESTART, so that the wait wakes at once). Standard input
// is /dev/null; the child gets the default disposition and an empty mask for every signal.
ChildResult runChild(const ChildCommand& command, const volatile sig_atomic_t* stop);

// "exit status 3", "killed by SIGSEGV", "did not finish within 600 s", ...
std::string describeEnding(const ChildResult& result, double timeoutSeconds);
