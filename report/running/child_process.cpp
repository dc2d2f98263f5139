#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

long long nowMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

// Reads what is there from fd into text (up to limit bytes kept); false at the end of the stream
// or on an error other than a wakeup.
bool drain(int fd, std::string& text, std::size_t limit, bool& truncated) {
  char chunk[65536];
  const ssize_t got = read(fd, chunk, sizeof chunk);
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  if (got == 0) return false;
  const std::size_t room = text.size() < limit ? limit - text.size() : 0;
  const std::size_t kept = std::min(room, static_cast<std::size_t>(got));
  text.append(chunk, kept);
  if (kept < static_cast<std::size_t>(got)) truncated = true;
  return true;
}

// In the child, between fork and exec: only async-signal-safe calls. Reports a failure as an errno
// on report and ends with 127.
[[noreturn]] void becomeChild(char* const* argv, const std::optional<int>& cpu, int out, int err,
                              int report) {
  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int failure = 0;
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0) {
    failure = errno;
  }
  if (failure == 0 && cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(*cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) failure = errno;
  }
  if (failure == 0) {
    execvp(argv[0], argv);
    failure = errno;
  }
  [[maybe_unused]] const ssize_t written = write(report, &failure, sizeof failure);
  _exit(127);
}

// Stops pid: SIGTERM, then SIGKILL after the grace period; returns its wait status.
int stopChild(pid_t pid, bool gently) {
  int status = 0;
  if (gently) {
    kill(pid, SIGTERM);
    const long long deadline = nowMilliseconds() + kStopGraceMilliseconds;
    while (nowMilliseconds() < deadline) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) return status;
      usleep(10'000);
    }
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

ChildResult runChild(const ChildCommand& command, const volatile sig_atomic_t* stop) {
  ChildResult result;
  if (command.argv.empty()) {
    result.startError = "no command";
    return result;
  }
  std::vector<char*> argv;
  for (const std::string& word : command.argv) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  int out[2], err[2], report[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) becomeChild(argv.data(), command.cpu, out[1], err[1], report[1]);
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
  // The exec's outcome: nothing arrives when it succeeded (the descriptor closes on exec).
  int startFailure = 0;
  ssize_t got;
  while ((got = read(report[0], &startFailure, sizeof startFailure)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == sizeof startFailure) {
    stopChild(pid, false);
    close(out[0]);
    close(err[0]);
    result.startError = std::strerror(startFailure);
    return result;
  }

  const long long deadline =
      nowMilliseconds() + static_cast<long long>(command.timeoutSeconds * 1000);
  bool errTruncated = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int streamsOpen = 2;
  bool timedOut = false, interrupted = false;
  while (streamsOpen > 0) {
    if (stop != nullptr && *stop != 0) {
      interrupted = true;
      break;
    }
    const long long left = deadline - nowMilliseconds();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    const int ready = poll(fds, 2, static_cast<int>(std::min(left, 1000LL)));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const bool more = i == 0 ? drain(fds[i].fd, result.out, command.maxOutputBytes,
                                       result.outTruncated)
                               : drain(fds[i].fd, result.err, kMaxErrorBytes, errTruncated);
      if (!more) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --streamsOpen;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int status = 0;
  if (timedOut || interrupted) {
    stopChild(pid, interrupted);
    result.ending = timedOut ? ChildResult::Ending::kTimedOut : ChildResult::Ending::kInterrupted;
    return result;
  }
  // Both streams closed: the child has ended or is about to (or closed them itself and goes on,
  // which the time limit still bounds).
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (stop != nullptr && *stop != 0) {
      stopChild(pid, true);
      result.ending = ChildResult::Ending::kInterrupted;
      return result;
    }
    if (nowMilliseconds() >= deadline) {
      stopChild(pid, false);
      result.ending = ChildResult::Ending::kTimedOut;
      return result;
    }
    usleep(1000);
  }
  if (WIFSIGNALED(status)) {
    result.ending = ChildResult::Ending::kSignalled;
    result.status = WTERMSIG(status);
  } else {
    result.ending = ChildResult::Ending::kExited;
    result.status = WEXITSTATUS(status);
  }
  return result;
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
