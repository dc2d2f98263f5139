#pragma once

#include <signal.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interruption.hpp"
#include "kept_copy.hpp"
#include "output_target.hpp"

// The --out of ab, compare, export and fleet, held to what the main command's --out holds to: {host} and
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

// One --out of compare, ab or fleet: where it goes, and the format its name asks for.
struct NamedOut {
  OutputTarget target;
  std::string format;  // "md", "csv" or "json" (formatOfOutName)
};
struct SubcommandOuts {
  std::vector<NamedOut> outs;  // in the order given
  bool refused = false;        // the reason already said; the status is 64
};
// Every --out given (paths), each resolved and refused as resolveSubcommandOut does, and also
// refused when its name asks for a format the command does not write (formats: the canonical
// names it writes) or when two of them name the same file.
SubcommandOuts resolveSubcommandOuts(const std::vector<std::string>& paths,
                                     const std::vector<std::string>& inputs,
                                     const std::vector<std::string>& formats,
                                     const std::string& name);

// Each out's output made ready in files (a file's temporary name created, a device or FIFO
// opened when that cannot block), in the order of outs. False, after saying why ("NAME: ..."),
// when one cannot be; files then holds none.
bool createOuts(const std::vector<NamedOut>& outs,
                std::vector<std::unique_ptr<PendingOutput>>& files, const std::string& name);

// The order to put files in place: files first, then devices and FIFOs that take the text at
// once, then FIFOs that wait for a reader, so that a signal ending a wait loses the fewest.
std::vector<std::size_t> commitOrder(const std::vector<std::unique_ptr<PendingOutput>>& files);

// "; not written either: B, C" for the outputs of order after its position at, or "".
std::string unwrittenAfter(const std::vector<std::unique_ptr<PendingOutput>>& files,
                           const std::vector<std::size_t>& order, std::size_t at);

// Writes each out the text of its format (textOf is asked once per format), in commitOrder;
// lost as in commitWaiting, with the outputs not yet written added. False when any could not be
// written (each said, "NAME: ..."); the others are written all the same.
bool writeOuts(const std::vector<NamedOut>& outs,
               const std::function<std::string(const std::string&)>& textOf,
               const std::string& name, const std::string& lost);

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



// One of ab's outputs put in place at the end: text, which is what ("the session's document").
// When the output may wait for a FIFO's reader, the text is first kept in a file of its own
// (unless standard output already has it, onStandardOutput), which a signal during the wait
// names, followed by unwritten (unwrittenAfter); the copy is removed once the output has the
// text, and named when the writing fails. False, after saying why ("NAME: --out: ..."), when
// the output could not be written. recorded as in commitWaiting.
bool writeKeepingCopy(PendingOutput& output, const std::string& text, bool onStandardOutput,
                      const std::string& what, const std::string& unwritten,
                      const std::string& name, volatile sig_atomic_t* recorded);
