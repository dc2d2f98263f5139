#pragma once

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

// One child process, started without a shell in a process group of its own and waited for: its
// standard output and error captured, its CPU fixed before it starts, its time limited, and its
// whole group stopped when it times out, when the caller's stop flag is raised by a signal, and
// when it has ended (a background process it left must not go on running beside the next child).

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
    kInterrupted,  // *stop was raised: the group was passed that signal, then SIGKILL
    kNotStarted,   // startError says why (no such file, not executable, the CPU refused)
  };
  Ending ending = Ending::kNotStarted;
  int status = 0;
  std::string out;
  // Standard error: all of it, or its first and last kMaxErrorBytes / 2 with errCutBytes
  // dropped between them at errCutAt.
  std::string err;
  std::size_t errCutAt = 0;
  unsigned long long errCutBytes = 0;
  bool outTruncated = false;
  std::string startError;
};

// Standard error kept per child: enough for any message, bounded for a child that floods it.
inline constexpr std::size_t kMaxErrorBytes = 64 * 1024;
// After the stopping signal a child has this long to end before SIGKILL.
inline constexpr int kStopGraceMilliseconds = 2000;

// Runs command and waits for it: for it to end, not for the end of its streams, which a process
// it left in the background may hold open; what the streams hold when it ends is read. stop,
// when not null, is polled while waiting (a handler that sets it should be installed without
// SA_RESTART, so that the wait wakes at once); its value, when it is a signal number, is the
// signal passed on to the child's group (else SIGTERM). Standard input is /dev/null; the child
// gets an empty mask and the default disposition for every signal but those in keepIgnored,
// which stay ignored.
ChildResult runChild(const ChildCommand& command, const volatile sig_atomic_t* stop,
                     const sigset_t* keepIgnored = nullptr);

// A child's standard error to show in maxBytes or about: its head and its tail, and how many
// bytes between them are not shown (0 when it is shown whole, tail then empty).
struct ErrorExcerpt {
  std::string head;
  std::string tail;
  unsigned long long cutBytes = 0;
};
ErrorExcerpt errorExcerpt(const ChildResult& result, std::size_t maxBytes);

// "exit status 3", "killed by SIGSEGV", "did not finish within 600 s", ...
std::string describeEnding(const ChildResult& result, double timeoutSeconds);
