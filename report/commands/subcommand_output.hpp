#pragma once

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "interruption.hpp"
#include "kept_copy.hpp"
#include "output_target.hpp"

// The --out of ab, export and fleet, held to what the main command's --out holds to: {host} and
// {rank} expanded the same way, the name resolved and refused before anything runs, and a signal
// while the text waits for a FIFO's reader ending the command with 128 + the signal and a line
// saying what was not written.

struct SubcommandOut {
  std::optional<OutputTarget> target;  // none when --out was not given
  bool refused = false;                // the reason already said; the status is 64
};
// given: --out was on the command line (an empty name is refused, never taken for none).
// inputs: the files the command reads, as named; an --out that is one of them (the same device
// and inode, through a link or another name, or the same resolved name for one not there yet)
// is refused. name ("lubench-report ab") begins the message.
SubcommandOut resolveSubcommandOut(bool given, const std::string& path,
                                   const std::vector<std::string>& inputs,
                                   const std::string& name);

// The file that running command starts, found as execvp finds it: the name itself when it holds
// a '/', else the first executable regular file of that name in a directory of PATH. The name
// itself when there is none.
std::string executableFile(const std::string& command);

// While it lives, SIGINT, SIGTERM and SIGHUP (those not ignored at the start) end the process at
// once with 128 + the signal, saying "lubench-report: interrupted by SIGINT" and then what on
// standard error; the dispositions before it come back when it ends.
class ReaderWait {
 public:
  explicit ReaderWait(const std::string& what);
  ~ReaderWait();
  ReaderWait(const ReaderWait&) = delete;
  ReaderWait& operator=(const ReaderWait&) = delete;

 private:
  struct sigaction previous_[kHandledSignalCount] {};
};

// Commits output; while it waits for a FIFO's reader a signal ends the process, saying
// " while waiting for a reader of NAME: " and lost. recorded, when given, is where a handler
// that only records a signal put one: a signal recorded since it was last cleared ends the
// process the same way before the wait. False with error set when the commit fails.
bool commitWaiting(PendingOutput& output, const std::string& lost, std::string& error,
                   volatile sig_atomic_t* recorded = nullptr);

// text, finished, to target, else to standard output; lost as in commitWaiting. False, after
// saying why ("NAME: ..."), when it could not be written.
bool writeWholeText(const std::string& text, const std::optional<OutputTarget>& target,
                    const std::string& name, const std::string& lost);


// The session's document of ab put in place at the end. When the output may wait for a FIFO's
// reader, the text is first kept in a file of its own (unless standard output already has it,
// onStandardOutput), which a signal during the wait names; the copy is removed once the output
// has the text, and named when the writing fails. False, after saying why ("NAME: --out: ..."),
// when the output could not be written.
// recorded as in commitWaiting.
bool writeKeepingCopy(PendingOutput& output, const std::string& text, bool onStandardOutput,
                      const std::string& name, volatile sig_atomic_t* recorded);
