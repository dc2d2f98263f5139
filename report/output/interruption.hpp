#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "output_target.hpp"

// SIGINT, SIGTERM and SIGHUP end lubench-report at once, even in the middle of a run, with what
// has been written kept whole: the handler cuts each document back to its last whole state,
// writes the text that closes it as it stands (both set after each combination), puts it in
// place, erases the progress line, says what was kept on standard error, and exits with 128 +
// the signal number. The texts are changed only while the signals are held, so the handler never
// sees one half changed; nothing that may wait (a child, a reader of a FIFO) runs while they are
// held.

// The signals handled, in the order of the texts below.
inline constexpr int kHandledSignalCount = 3;
// 2, 15 and 1 on Linux.
int handledSignal(int index);
// "SIGINT", "SIGTERM", "SIGHUP".
const char* signalName(int signal);

// Documents the handler closes: the report on standard output and each --out file (at most 16).
inline constexpr int kMaxDocuments = 17;

// The handled signals that were ignored when lubench-report started (nohup's SIGHUP, a
// background job's SIGINT): they stay ignored in the report, in ab and in every child and copy.
// Read by the first call, which reportMain makes before it changes any disposition.
const sigset_t& signalsIgnoredAtStart();

// Installs the handlers. Call once.
bool installInterruptionHandlers();

// Document index (below kMaxDocuments) goes to output; the handler cuts it back to
// wholeLength bytes first when wholeLength >= 0 (a file, not a stream). Call with the signals
// held.
void setDocument(int index, const OutputForSignals& output, long long wholeLength);
// The handler leaves document index alone. Call with the signals held.
void clearDocument(int index);
// The text that closes document index after each handled signal, in handledSignal order. Call
// with the signals held.
void setDocumentClosing(int index, const std::string (&closing)[kHandledSignalCount]);
// What the handler says on standard error: "lubench-report: interrupted by SIGTERM" and then
// what. Call with the signals held.
void setInterruptionNotice(const std::string& what);
// The copies running now (killed by the handler before it closes the documents); empty when
// none. Call with the signals held.
void setChildProcesses(const std::vector<pid_t>& children);
// The text that erases the progress line. Call with the signals held.
void setTerminalClearing(const std::string& clearing);

// While it lives, the handled signals wait: a document or progress line is written whole.
// Nests: the mask before it comes back when it ends.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};
