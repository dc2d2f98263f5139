#include "process_runner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The master side of a new pseudo-terminal, with its slave side opened in slave; -1 on failure.
int openTerminal(int& slave) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  return slave >= 0 ? master : -1;
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessSetup& setup) {
  char outPath[] = "/tmp/lubench-out-XXXXXX";
  char errPath[] = "/tmp/lubench-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  // The slave side is opened before the fork, so it is open from the start and the master reads
  // until the program has exited.
  int terminalSlave = -1;
  const int terminal = setup.err == Stderr::kTerminal ? openTerminal(terminalSlave) : -1;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int brokenPipe[2] = {-1, -1};
  if (setup.out == Stdout::kBrokenPipe && pipe(brokenPipe) == 0) close(brokenPipe[0]);
  ProcessResult result;
  const pid_t child = fork();
  if (child == 0) {
    if (setup.out == Stdout::kCaptured) dup2(outFd, STDOUT_FILENO);
    if (setup.out == Stdout::kClosed) close(STDOUT_FILENO);
    if (setup.out == Stdout::kFullDevice) dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
    if (setup.out == Stdout::kBrokenPipe) dup2(brokenPipe[1], STDOUT_FILENO);
    if (setup.err == Stderr::kCaptured) dup2(errFd, STDERR_FILENO);
    if (setup.err == Stderr::kClosed) close(STDERR_FILENO);
    if (setup.err == Stderr::kTerminal) dup2(terminalSlave, STDERR_FILENO);
    if (terminal >= 0) {
      close(terminal);
      close(terminalSlave);
    }
    const rlimit limit{setup.addressSpaceLimit, setup.addressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
    if (setup.stackLimit != RLIM_INFINITY) {
      const rlimit stack{setup.stackLimit, setup.stackLimit};
      setrlimit(RLIMIT_STACK, &stack);
    }
    if (setup.fileSizeLimit != RLIM_INFINITY) {
      const rlimit size{setup.fileSizeLimit, setup.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &size);
    }
    for (const std::string& setting : setup.environment) {
      const std::size_t equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    // The program meets a closed pipe or the size limit as a user's shell would start it.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    // A signal the test sends is not to be ignored because the test itself was started so.
    if (setup.signal != 0) signal(setup.signal, SIG_DFL);
    for (int ignored : setup.ignoredSignals) signal(ignored, SIG_IGN);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (brokenPipe[1] >= 0) close(brokenPipe[1]);
  if (setup.signal != 0 && setup.signalAfterMilliseconds > 0) {
    usleep(static_cast<useconds_t>(setup.signalAfterMilliseconds) * 1000);
    kill(child, setup.signal);
  } else if (setup.signal != 0) {
    // The program's output so far, read until the text appears or the program has ended.
    for (;;) {
      if (readFile(outPath).find(setup.signalWhen) != std::string::npos) {
        if (setup.signalDelayMilliseconds > 0) usleep(1000 * setup.signalDelayMilliseconds);
        kill(child, setup.signal);
        break;
      }
      siginfo_t ended{};
      if (waitid(P_PID, child, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0) {
        break;
      }
      usleep(2000);
    }
  }
  if (terminal >= 0) {
    close(terminalSlave);
    // Read while the program writes, so it never blocks on a full terminal; the read fails
    // once the program has exited and nothing holds the terminal open.
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(terminal, buffer, sizeof buffer)) > 0) result.err.append(buffer, got);
    close(terminal);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  close(outFd);
  close(errFd);
  result.out = readFile(outPath);
  if (setup.err == Stderr::kCaptured) result.err = readFile(errPath);
  std::remove(outPath);
  std::remove(errPath);
  return result;
}

ScratchDirectory::ScratchDirectory(const std::string& prefix)
    : dir_(std::filesystem::temp_directory_path() /
           (prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(rand()))) {
  std::filesystem::create_directories(dir_);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDirectory::write(const std::string& name, const std::string& text) const {
  const std::string file = path(name);
  std::ofstream(file) << text;
  return file;
}

std::string hostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}
