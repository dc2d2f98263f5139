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

// Documents the handler closes: the report on standard output and, with --out, the JSON file.
inline constexpr int kMaxDocuments = 2;

// Installs the handlers. Call once.
bool installInterruptionHandlers();

// Document index (below kMaxDocuments) is written to descriptor; after its closing text the
// handler renames renameFrom to renameTo when they are not empty (a file written under a
// temporary name). Call with the signals held.
void setDocument(int index, int descriptor, const std::string& renameFrom,
                 const std::string& renameTo);
// The text that closes document index after each handled signal, in handledSignal order. Call
// with the signals held.
void setDocumentClosing(int index, const std::string (&closing)[kHandledSignalCount]);
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
