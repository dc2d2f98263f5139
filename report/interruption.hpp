#pragma once

#include <signal.h>

#include <string>

// SIGINT, SIGTERM and SIGHUP end lubench-report at once, even in the middle of a run, with what
// has been written kept whole: the handler writes the text that closes the document as it stands
// (set after each combination), erases the progress line, says which signal came on standard
// error, and exits with 128 + the signal number. The texts are changed only while the signals are
// held, so the handler never sees one half changed.

// The signals handled, in the order of the texts below.
inline constexpr int kHandledSignalCount = 3;
// 2, 15 and 1 on Linux.
int handledSignal(int index);
// "SIGINT", "SIGTERM", "SIGHUP".
const char* signalName(int signal);

// Installs the handlers; the document's closing texts go to documentDescriptor. Call once.
bool installInterruptionHandlers(int documentDescriptor);

// The text that closes the document after each handled signal, in handledSignal order. Call with
// the signals held.
void setDocumentClosing(const std::string (&closing)[kHandledSignalCount]);
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
