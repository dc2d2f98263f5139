#include <gtest/gtest.h>

#include <string>

#include "blocking.hpp"
#include "process_runner.hpp"

namespace {

ProcessResult runLubench(Stdout target, rlim_t addressSpaceLimit = RLIM_INFINITY,
                         rlim_t stackLimit = RLIM_INFINITY) {
  return runProcess(
      LUBENCH_EXECUTABLE, {"ignored-argument"},
      {.out = target, .addressSpaceLimit = addressSpaceLimit, .stackLimit = stackLimit});
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
  const ProcessResult run = runLubench(Stdout::kCaptured);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(isResultLine(run.out)) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(Driver, ALostResultIsAFailure) {
  for (Stdout target : {Stdout::kClosed, Stdout::kFullDevice}) {
    const ProcessResult run = runLubench(target);
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
  const ProcessResult run = runLubench(Stdout::kCaptured, 200u << 20);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot allocate the scratch product matrix (134217728 bytes)"),
            std::string::npos)
      << run.err;
}

TEST(Driver, AStackTooSmallIsRefusedAndTheStatedNeedSuffices) {
  // Refused with one line before any work, never ended by a signal.
  const ProcessResult small = runLubench(Stdout::kCaptured, RLIM_INFINITY, 256u << 10);
  EXPECT_EQ(small.status, 1);
  EXPECT_EQ(small.out, "");
  EXPECT_NE(small.err.find("lubench: the stack limit is 256 KiB, below the"), std::string::npos)
      << small.err;
  // Exactly the stated need is enough for a whole run.
  const ProcessResult enough = runLubench(Stdout::kCaptured, RLIM_INFINITY, kBlockLoopStackBytes);
  EXPECT_EQ(enough.status, 0) << enough.err;
  EXPECT_TRUE(isResultLine(enough.out)) << enough.out;
}

}  // namespace
