#include "interruption.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "text_format.hpp"

namespace {

constexpr int kSignals[kHandledSignalCount] = {SIGINT, SIGTERM, SIGHUP};

// Everything the handler reads; replaced only while the signals are held.
struct Document {
  bool active = false;
  OutputForSignals output;
  long long wholeLength = -1;
  // Said when the handler finds no reader on a FIFO it would write the document to, so that the
  // notice's "kept in NAME" is not taken at its word.
  std::string noReader;
  std::string closing[kHandledSignalCount];
};
struct InterruptionTexts {
  Document documents[kMaxDocuments];
  std::vector<pid_t> children;
  std::string terminalClearing;
  std::string notice[kHandledSignalCount];
  std::string unreadFifos;  // the handler's: each document's noReader it had to say
};
// Owned for the life of the process: the handler may run until exit.
InterruptionTexts* gTexts = nullptr;

void writeAll(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(fd, data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

extern "C" void onHandledSignal(int signal) {
  int index = 0;
  while (index < kHandledSignalCount && kSignals[index] != signal) ++index;
  if (gTexts != nullptr && index < kHandledSignalCount) {
    // Copies still running stop with the report.
    for (const pid_t child : gTexts->children) kill(child, SIGKILL);
    writeAll(STDERR_FILENO, gTexts->terminalClearing);
    // Built from texts made before the signal: appending to a string with enough capacity
    // reserved does not allocate.
    std::string& unreadFifos = gTexts->unreadFifos;
    unreadFifos.clear();
    for (const Document& document : gTexts->documents) {
      if (!document.active) continue;
      const OutputForSignals& output = document.output;
      int fd = output.descriptor;
      // A FIFO nobody had opened for reading: written now only if a reader has come.
      if (fd < 0 && !output.openPath.empty()) {
        fd = open(output.openPath.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
      }
      if (fd < 0) {
        if (!output.openPath.empty()) unreadFifos += document.noReader;
        continue;
      }
      if (document.wholeLength >= 0 && ftruncate(fd, document.wholeLength) == 0) {
        lseek(fd, 0, SEEK_END);
      }
      if (output.buffered != nullptr) writeAll(fd, *output.buffered);
      writeAll(fd, document.closing[index]);
      if (fd != output.descriptor) close(fd);
      if (!output.renameFrom.empty()) rename(output.renameFrom.c_str(), output.renameTo.c_str());
    }
    writeAll(STDERR_FILENO, gTexts->notice[index]);
    writeAll(STDERR_FILENO, unreadFifos);
  }
  _exit(128 + signal);
}

sigset_t handledSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

const sigset_t& signalsIgnoredAtStart() {
  static const sigset_t ignored = [] {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals) {
      struct sigaction current {};
      if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
        sigaddset(&set, signal);
      }
    }
    return set;
  }();
  return ignored;
}

int handledSignal(int index) {
  return kSignals[index];
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "a signal";
}

bool installInterruptionHandlers() {
  auto texts = std::make_unique<InterruptionTexts>();
  {
    const SignalsHeld held;
    delete gTexts;
    gTexts = texts.release();
    setInterruptionNotice("");
  }
  struct sigaction action {};
  action.sa_handler = onHandledSignal;
  // Further handled signals wait while the handler writes.
  action.sa_mask = handledSet();
  for (int signal : kSignals) {
    // A signal the shell set to be ignored (nohup, a background job's SIGINT) stays ignored.
    if (sigismember(&signalsIgnoredAtStart(), signal) == 1) continue;
    if (sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

void setDocument(int index, const OutputForSignals& output, long long wholeLength) {
  if (gTexts == nullptr) return;
  Document& document = gTexts->documents[index];
  document.active = true;
  document.output = output;
  document.wholeLength = wholeLength;
  document.noReader = output.openPath.empty()
                          ? std::string()
                          : "lubench-report: " + printable(output.openPath) +
                                ": no reader had opened it, so the document was not written there\n";
  std::size_t room = 0;
  for (const Document& each : gTexts->documents) room += each.noReader.size();
  gTexts->unreadFifos.reserve(room);
}

void clearDocument(int index) {
  if (gTexts != nullptr) gTexts->documents[index] = Document{};
}

void setInterruptionNotice(const std::string& what) {
  if (gTexts == nullptr) return;
  for (int i = 0; i < kHandledSignalCount; ++i) {
    gTexts->notice[i] =
        std::string("lubench-report: interrupted by ") + signalName(kSignals[i]) + what + "\n";
  }
}

void setDocumentClosing(int index, const std::string (&closing)[kHandledSignalCount]) {
  if (gTexts == nullptr) return;
  for (int i = 0; i < kHandledSignalCount; ++i) gTexts->documents[index].closing[i] = closing[i];
}

void setTerminalClearing(const std::string& clearing) {
  if (gTexts != nullptr) gTexts->terminalClearing = clearing;
}

SignalsHeld::SignalsHeld() {
  const sigset_t set = handledSet();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void setChildProcesses(const std::vector<pid_t>& children) {
  if (gTexts != nullptr) gTexts->children = children;
}
