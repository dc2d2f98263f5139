#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cpu_affinity.hpp"

namespace {

long long nowMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

// Reads of 64 KiB that empty a pipe of the largest size an unprivileged process may give it
// (/proc/sys/fs/pipe-max-size, 1 MiB by default).
constexpr int kMaxPipeChunks = 16;

// Standard error as it arrives: the first headLimit bytes and the last tailLimit, the bytes
// between them counted and dropped, so that a flood is bounded and its last line, where the error
// that ended a program usually is, survives.
struct HeadAndTail {
  std::size_t headLimit;
  std::size_t tailLimit;
  std::string head;
  std::string tail;
  unsigned long long cut = 0;

  void add(const char* data, std::size_t size) {
    const std::size_t toHead = std::min(size, headLimit - head.size());
    head.append(data, toHead);
    tail.append(data + toHead, size - toHead);
    // Trimmed only once it is twice its limit, so that a stream of small writes costs no more
    // than one copy of each byte.
    if (tail.size() > 2 * tailLimit) trim();
  }
  void trim() {
    if (tail.size() <= tailLimit) return;
    const std::size_t excess = tail.size() - tailLimit;
    tail.erase(0, excess);
    cut += excess;
  }
};

// Reads what is there from fd into out (up to limit bytes kept) or err; false at the end of the
// stream or on an error other than a wakeup or an empty non-blocking stream (wouldBlock set).
bool drain(int fd, std::string* out, std::size_t limit, bool& truncated, HeadAndTail* err,
           bool& wouldBlock) {
  char chunk[65536];
  wouldBlock = false;
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got < 0) {
    wouldBlock = errno == EAGAIN;
    return errno == EINTR || errno == EAGAIN;
  }
  if (got == 0) return false;
  if (err != nullptr) {
    err->add(chunk, static_cast<std::size_t>(got));
    return true;
  }
  const std::size_t room = out->size() < limit ? limit - out->size() : 0;
  const std::size_t kept = std::min(room, static_cast<std::size_t>(got));
  out->append(chunk, kept);
  if (kept < static_cast<std::size_t>(got)) truncated = true;
  return true;
}

// In the child, between fork and exec: only async-signal-safe calls. Reports a failure as an errno
// on report and ends with 127.
[[noreturn]] void becomeChild(char* const* argv, const std::optional<int>& cpu, int out, int err,
                              int report, const sigset_t& keepIgnored) {
  // A group of its own, so that what it starts is stopped with it.
  setpgid(0, 0);
  for (int s = 1; s < NSIG; ++s) signal(s, sigismember(&keepIgnored, s) == 1 ? SIG_IGN : SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int failure = 0;
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0) {
    failure = errno;
  }
  if (failure == 0 && cpu && !pinToCpu(*cpu)) failure = errno;
  if (failure == 0) {
    execvp(argv[0], argv);
    failure = errno;
  }
  [[maybe_unused]] const ssize_t written = write(report, &failure, sizeof failure);
  _exit(127);
}

// True once pid has ended; it is left unreaped, so that its number, and with it its group's,
// cannot be taken by another process before the group is stopped.
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// Sends signal to pid's group and to pid itself (in case it had not yet made the group).
void signalGroup(pid_t pid, int signal) {
  kill(-pid, signal);
  kill(pid, signal);
}

// Reaps pid, which has ended, after killing what is left of its group; its wait status.
int reap(pid_t pid) {
  kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Stops pid and its group: passed is sent first, and SIGKILL after the grace period when the
// child has not ended (at once when passed is 0).
void stopChild(pid_t pid, int passed) {
  if (passed != 0) {
    signalGroup(pid, passed);
    const long long deadline = nowMilliseconds() + kStopGraceMilliseconds;
    while (nowMilliseconds() < deadline && !hasEnded(pid)) usleep(10'000);
  }
  signalGroup(pid, SIGKILL);
  reap(pid);
}

// The signal to pass on for a raised stop flag: its value when that is a signal, else SIGTERM.
int passedSignal(sig_atomic_t stop) {
  return stop > 0 && stop < NSIG ? static_cast<int>(stop) : SIGTERM;
}

}  // namespace

ChildResult runChild(const ChildCommand& command, const volatile sig_atomic_t* stop,
                     const sigset_t* keepIgnored) {
  ChildResult result;
  if (command.argv.empty()) {
    result.startError = "no command";
    return result;
  }
  sigset_t ignored;
  sigemptyset(&ignored);
  if (keepIgnored != nullptr) ignored = *keepIgnored;
  std::vector<char*> argv;
  for (const std::string& word : command.argv) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  int out[2], err[2], report[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return result;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) becomeChild(argv.data(), command.cpu, out[1], err[1], report[1], ignored);
  close(out[1]);
  close(err[1]);
  close(report[1]);
  if (pid < 0) {
    result.startError = std::strerror(errno);
    close(out[0]);
    close(err[0]);
    close(report[0]);
    return result;
  }
  // Also here, so that the group exists whichever of the two runs first.
  setpgid(pid, pid);
  // The exec's outcome: nothing arrives when it succeeded (the descriptor closes on exec).
  int startFailure = 0;
  ssize_t got;
  while ((got = read(report[0], &startFailure, sizeof startFailure)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == sizeof startFailure) {
    stopChild(pid, 0);
    close(out[0]);
    close(err[0]);
    result.startError = std::strerror(startFailure);
    return result;
  }

  const long long deadline =
      nowMilliseconds() + static_cast<long long>(command.timeoutSeconds * 1000);
  HeadAndTail errText{kMaxErrorBytes / 2, kMaxErrorBytes / 2, {}, {}};
  // Readable once the child has ended; without one (an old kernel) the wait wakes every 10 ms.
  const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {ended, POLLIN, 0}};
  const auto readReady = [&](int i) {
    bool wouldBlock = false;
    const bool more = i == 0 ? drain(fds[i].fd, &result.out, command.maxOutputBytes,
                                     result.outTruncated, nullptr, wouldBlock)
                             : drain(fds[i].fd, nullptr, 0, result.outTruncated, &errText,
                                     wouldBlock);
    if (!more) {
      close(fds[i].fd);
      fds[i].fd = -1;
    }
    return more && !wouldBlock;
  };
  bool timedOut = false, interrupted = false;
  for (;;) {
    if (stop != nullptr && *stop != 0) {
      interrupted = true;
      break;
    }
    if (hasEnded(pid)) break;
    const long long left = deadline - nowMilliseconds();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    const int ready =
        poll(fds, 3, static_cast<int>(std::min(left, ended >= 0 ? 1000LL : 10LL)));
    if (ready < 0 && errno != EINTR) usleep(10'000);
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0) readReady(i);
    }
  }
  if (ended >= 0) close(ended);
  const auto keepError = [&] {
    errText.trim();
    result.errCutAt = errText.head.size();
    result.errCutBytes = errText.cut;
    result.err = errText.head + errText.tail;
  };
  if (timedOut || interrupted) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0) close(fds[i].fd);
    }
    stopChild(pid, interrupted ? passedSignal(*stop) : 0);
    keepError();
    result.ending = timedOut ? ChildResult::Ending::kTimedOut : ChildResult::Ending::kInterrupted;
    return result;
  }
  // The child has ended: what is left of its group is killed, so that nothing writes any more,
  // and what the streams already hold is read without waiting for their end. The reads are
  // bounded by the most a pipe may hold, against a writer that left the group and floods on.
  const int status = reap(pid);
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0) continue;
    fcntl(fds[i].fd, F_SETFL, fcntl(fds[i].fd, F_GETFL) | O_NONBLOCK);
    for (int chunk = 0; chunk < kMaxPipeChunks && fds[i].fd >= 0 && readReady(i); ++chunk) {
    }
    if (fds[i].fd >= 0) close(fds[i].fd);
  }
  keepError();
  if (WIFSIGNALED(status)) {
    result.ending = ChildResult::Ending::kSignalled;
    result.status = WTERMSIG(status);
  } else {
    result.ending = ChildResult::Ending::kExited;
    result.status = WEXITSTATUS(status);
  }
  return result;
}

ErrorExcerpt errorExcerpt(const ChildResult& result, std::size_t maxBytes) {
  const std::string& err = result.err;
  const std::size_t cutAt = std::min(result.errCutAt, err.size());
  ErrorExcerpt excerpt;
  if (result.errCutBytes == 0 && err.size() <= maxBytes) {
    excerpt.head = err;
    return excerpt;
  }
  // The gap at cutAt lies between the head and the tail shown: the head kept while running is
  // larger than half of any excerpt asked for, and so is the tail.
  const std::size_t half = maxBytes / 2;
  std::size_t headSize = std::min(half, err.size());
  std::size_t tailStart = std::max(headSize, err.size() - std::min(err.size(), half));
  if (result.errCutBytes > 0) {
    headSize = std::min(headSize, cutAt);
    tailStart = std::max(tailStart, cutAt);
  }
  excerpt.head = err.substr(0, headSize);
  excerpt.tail = err.substr(tailStart);
  excerpt.cutBytes = result.errCutBytes + (tailStart - headSize);
  return excerpt;
}

std::string describeEnding(const ChildResult& result, double timeoutSeconds) {
  switch (result.ending) {
    case ChildResult::Ending::kExited:
      return "exit status " + std::to_string(result.status);
    case ChildResult::Ending::kSignalled: {
      const char* name = sigabbrev_np(result.status);
      return std::string("killed by ") +
             (name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(result.status));
    }
    case ChildResult::Ending::kTimedOut: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", timeoutSeconds);
      return std::string("did not finish within ") + seconds + " s (--timeout), killed";
    }
    case ChildResult::Ending::kInterrupted:
      return "stopped by the interruption";
    case ChildResult::Ending::kNotStarted:
      break;
  }
  return "could not be started: " + result.startError;
}
