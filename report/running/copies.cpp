#include "copies.hpp"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cpu_affinity.hpp"
#include "interruption.hpp"
#include "runner.hpp"

namespace {

// The barrier's two messages: a copy is ready for its next run; every copy is.
constexpr char kReady = 'R';
constexpr char kGo = 'G';

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// One byte from fd; 0 at the end of the stream or on an error.
char readByte(int fd) {
  char c = 0;
  ssize_t got;
  while ((got = read(fd, &c, 1)) < 0 && errno == EINTR) {
  }
  return got == 1 ? c : 0;
}

struct Child {
  pid_t pid = -1;
  int fromChild = -1;  // the barrier's kReady, then the records
  int toChild = -1;    // kGo
  bool alive = true;
};

// The child's life: pinned, its own buffers, the runs between barriers, the records handed on.
[[noreturn]] void runCopy(int copy, const RunOptions& options, const CpuPlace& place,
                          int toParent, int fromParent, const CopyResultHook& hook) {
  // The report's handlers are not the copy's; a signal ignored when the report started (nohup's
  // SIGHUP) stays ignored, as it is in the report.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigismember(&signalsIgnoredAtStart(), s) != 1) signal(s, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!pinToCpu(place.cpu)) _exit(kCopyCannotStart);
  // The copy never returns into the report: an exception unwinding there would run the
  // parent's destructors in this process and remove the parent's unfinished output file.
  try {
    CombinationHooks hooks;
    hooks.beforeRun = [&] {
      return writeAll(toParent, std::string(1, kReady)) && readByte(fromParent) == kGo;
    };
    std::optional<CombinationRecord> record = runCombination(options, hooks);
    if (!record) _exit(kCopyCannotStart);
    if (hook) hook(copy, record->runs);
    std::string text;
    for (const RunRecord& run : record->runs) text += encodeRun(run) + "\n";
    std::fflush(stdout);
    _exit(writeAll(toParent, text) ? 0 : kCopyCannotStart);
  } catch (...) {
    _exit(kCopyCannotStart);
  }
}

// Waits for child's end and records how it ended.
void reap(Child& child, CopyRecord& copy) {
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) copy.signal = WTERMSIG(status);
  if (WIFEXITED(status)) copy.exitStatus = WEXITSTATUS(status);
  child.alive = false;
}

}  // namespace

std::string encodeRun(const RunRecord& run) {
  std::string line;
  char number[64];
  const auto append = [&](long long value) {
    std::snprintf(number, sizeof number, "%s%lld", line.empty() ? "" : " ", value);
    line += number;
  };
  append(run.startNanoseconds);
  append(run.timedNanoseconds);
  for (long long step : run.stepNanoseconds) append(step);
  append(run.solveNanoseconds);
  char rest[128];
  std::snprintf(rest, sizeof rest, " %a %a %d %llu", run.gflops, run.residual,
                run.singularColumns, run.fingerprint);
  return line + rest;
}

std::optional<RunRecord> decodeRun(const std::string& line) {
  RunRecord run;
  const char* p = line.c_str();
  char* end = nullptr;
  const auto whole = [&](long long& value) {
    errno = 0;
    value = std::strtoll(p, &end, 10);
    const bool good = end != p && errno == 0;
    p = end;
    return good;
  };
  const auto real = [&](double& value) {
    value = std::strtod(p, &end);
    const bool good = end != p;
    p = end;
    return good;
  };
  long long singular = 0;
  bool good = whole(run.startNanoseconds) && whole(run.timedNanoseconds);
  for (long long& step : run.stepNanoseconds) good = good && whole(step);
  good = good && whole(run.solveNanoseconds) && real(run.gflops) && real(run.residual) &&
         whole(singular);
  if (!good) return std::nullopt;
  errno = 0;
  const unsigned long long print = std::strtoull(p, &end, 10);
  if (end == p || errno != 0 || *end != '\0') return std::nullopt;
  run.singularColumns = static_cast<int>(singular);
  run.fingerprint = print;
  return run;
}

std::vector<CopyRecord> runCopies(const RunOptions& options, const std::vector<CpuPlace>& places,
                                  const CopyResultHook& hook) {
  std::vector<CopyRecord> copies(places.size());
  std::vector<Child> children(places.size());
  std::vector<pid_t> pids;
  // Nothing buffered is written twice by the children.
  std::fflush(nullptr);
  for (std::size_t i = 0; i < places.size(); ++i) {
    copies[i].place = places[i];
    int up[2], down[2];
    if (pipe2(up, O_CLOEXEC) != 0) {
      children[i].alive = false;
      copies[i].exitStatus = kCopyCannotStart;
      continue;
    }
    if (pipe2(down, O_CLOEXEC) != 0) {
      close(up[0]);
      close(up[1]);
      children[i].alive = false;
      copies[i].exitStatus = kCopyCannotStart;
      continue;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      // Only this copy's own ends stay open in it.
      for (std::size_t j = 0; j < i; ++j) {
        if (children[j].fromChild >= 0) close(children[j].fromChild);
        if (children[j].toChild >= 0) close(children[j].toChild);
      }
      close(up[0]);
      close(down[1]);
      runCopy(static_cast<int>(i), options, places[i], up[1], down[0], hook);
    }
    close(up[1]);
    close(down[0]);
    if (pid < 0) {
      close(up[0]);
      close(down[1]);
      children[i].alive = false;
      copies[i].exitStatus = kCopyCannotStart;
      continue;
    }
    children[i] = Child{pid, up[0], down[1], true};
    pids.push_back(pid);
  }
  {
    const SignalsHeld held;
    setChildProcesses(pids);
  }
  // The barrier before each run: every living copy ready, then all released together.
  const int rounds = options.repeat + (options.warmUp ? 1 : 0);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (children[i].alive && readByte(children[i].fromChild) != kReady) reap(children[i], copies[i]);
    }
    for (Child& child : children) {
      if (child.alive) writeAll(child.toChild, std::string(1, kGo));
    }
  }
  // The records, then each copy's end.
  for (std::size_t i = 0; i < children.size(); ++i) {
    Child& child = children[i];
    if (child.fromChild < 0) continue;
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(child.fromChild, chunk, sizeof chunk)) != 0) {
      if (got < 0) {
        if (errno == EINTR) continue;
        break;
      }
      text.append(chunk, static_cast<std::size_t>(got));
    }
    close(child.fromChild);
    close(child.toChild);
    if (child.alive) reap(child, copies[i]);
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      if (end == std::string::npos) break;
      if (std::optional<RunRecord> run = decodeRun(text.substr(start, end - start))) {
        copies[i].runs.push_back(*run);
      }
      start = end + 1;
    }
    copies[i].finished = copies[i].signal == 0 && copies[i].exitStatus == 0 &&
                         copies[i].runs.size() == static_cast<std::size_t>(options.repeat);
  }
  {
    const SignalsHeld held;
    setChildProcesses({});
  }
  return copies;
}
