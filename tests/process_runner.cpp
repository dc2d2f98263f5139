#include "process_runner.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         Stdout target, rlim_t addressSpaceLimit) {
  char outPath[] = "/tmp/lubench-out-XXXXXX";
  char errPath[] = "/tmp/lubench-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ProcessResult result;
  const pid_t child = fork();
  if (child == 0) {
    if (target == Stdout::kCaptured) dup2(outFd, STDOUT_FILENO);
    if (target == Stdout::kClosed) close(STDOUT_FILENO);
    if (target == Stdout::kFullDevice) dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    const rlimit limit{addressSpaceLimit, addressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  close(outFd);
  close(errFd);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath);
  std::remove(errPath);
  return result;
}
