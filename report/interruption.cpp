#include "interruption.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kSignals[kHandledSignalCount] = {SIGINT, SIGTERM, SIGHUP};

// Everything the handler reads; replaced only while the signals are held.
struct Document {
  int descriptor = -1;
  std::string closing[kHandledSignalCount];
  std::string renameFrom;
  std::string renameTo;
};
struct InterruptionTexts {
  Document documents[kMaxDocuments];
  std::string terminalClearing;
  std::string notice[kHandledSignalCount];
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
    writeAll(STDERR_FILENO, gTexts->terminalClearing);
    for (const Document& document : gTexts->documents) {
      if (document.descriptor < 0) continue;
      writeAll(document.descriptor, document.closing[index]);
      if (!document.renameFrom.empty()) {
        rename(document.renameFrom.c_str(), document.renameTo.c_str());
      }
    }
    writeAll(STDERR_FILENO, gTexts->notice[index]);
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
  for (int i = 0; i < kHandledSignalCount; ++i) {
    texts->notice[i] = std::string("lubench-report: interrupted by ") + signalName(kSignals[i]) +
                       "; what finished before it is kept\n";
  }
  {
    const SignalsHeld held;
    delete gTexts;
    gTexts = texts.release();
  }
  struct sigaction action {};
  action.sa_handler = onHandledSignal;
  // Further handled signals wait while the handler writes.
  action.sa_mask = handledSet();
  for (int signal : kSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0) return false;
    // A signal the shell set to be ignored (nohup, a background job's SIGINT) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    if (sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

void setDocument(int index, int descriptor, const std::string& renameFrom,
                 const std::string& renameTo) {
  if (gTexts == nullptr) return;
  Document& document = gTexts->documents[index];
  document.descriptor = descriptor;
  document.renameFrom = renameFrom;
  document.renameTo = renameTo;
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
