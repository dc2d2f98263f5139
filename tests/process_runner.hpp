#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

// Runs built programs as a user would, for the driver-level tests.

// kBrokenPipe: a pipe whose reading end is closed before the program starts.
enum class Stdout { kCaptured, kClosed, kFullDevice, kBrokenPipe };
// kTerminal: a pseudo-terminal, read as the program writes to it.
enum class Stderr { kCaptured, kClosed, kTerminal };

struct ProcessSetup {
  Stdout out = Stdout::kCaptured;
  Stderr err = Stderr::kCaptured;
  rlim_t addressSpaceLimit = RLIM_INFINITY;
  rlim_t stackLimit = RLIM_INFINITY;     // RLIM_INFINITY: the test's own
  rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes
  // NAME=VALUE settings of the program's environment, beside the test's own.
  std::vector<std::string> environment = {};
  // When not 0, sent to the program once its captured standard output contains signalWhen, or
  // signalAfterMilliseconds after it started when that is not 0.
  int signal = 0;
  std::string signalWhen = {};
  int signalAfterMilliseconds = 0;
  // With signalWhen: how long after the text is seen the signal is sent.
  int signalDelayMilliseconds = 0;
  // Signals the program starts with ignored, as nohup or a careless parent would leave them.
  std::vector<int> ignoredSignals = {};
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

// This machine's host name, as the {host} of an --out gives it when it holds no '/'.
std::string hostName();

// A directory of the test's own under the system's temporary directory, removed with everything
// in it when the test ends.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  // Writes text to the file name in the directory; returns its path.
  std::string write(const std::string& name, const std::string& text) const;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};
