#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

enum class Stdout { kCaptured, kClosed, kFullDevice };

struct RunResult {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out;
  std::string err;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the built lubench with its standard output sent as asked, optionally under an address-space
// limit, and collects its exit status and both output streams.
RunResult runLubench(Stdout target, rlim_t addressSpaceLimit = RLIM_INFINITY) {
  char outPath[] = "/tmp/lubench-out-XXXXXX";
  char errPath[] = "/tmp/lubench-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  RunResult result;
  const pid_t child = fork();
  if (child == 0) {
    if (target == Stdout::kCaptured) dup2(outFd, STDOUT_FILENO);
    if (target == Stdout::kClosed) close(STDOUT_FILENO);
    if (target == Stdout::kFullDevice) dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    const rlimit limit{addressSpaceLimit, addressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
    execl(LUBENCH_EXECUTABLE, LUBENCH_EXECUTABLE, "ignored-argument", static_cast<char*>(nullptr));
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

// "time_spent1 runtime: <decimal digits> nanoseconds\n" and nothing else.
bool isResultLine(const std::string& text) {
  const std::string head = "time_spent1 runtime: ", tail = " nanoseconds\n";
  if (text.size() <= head.size() + tail.size() || !text.starts_with(head) || !text.ends_with(tail))
    return false;
  const std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

TEST(Driver, PrintsOneResultLineAndExitsZero) {
  const RunResult run = runLubench(Stdout::kCaptured);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(isResultLine(run.out)) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(Driver, ALostResultIsAFailure) {
  for (Stdout target : {Stdout::kClosed, Stdout::kFullDevice}) {
    const RunResult run = runLubench(target);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("cannot write the result to standard output"), std::string::npos)
        << run.err;
  }
}

TEST(Driver, AllocationFailureIsReportedWithTheBufferAndItsSize) {
#ifdef LUBENCH_SANITIZED
  GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
  // Room for the matrix A (128 MiB) but not for the scratch matrix as well.
  const RunResult run = runLubench(Stdout::kCaptured, 200u << 20);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot allocate the scratch product matrix (134217728 bytes)"),
            std::string::npos)
      << run.err;
}

}  // namespace
