#include <signal.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "report_main.hpp"

// lubench-report with a fault in its second copy, for the tests only (never installed):
// LUBENCH_TEST_COPY_FAULT=fingerprint flips the lowest bit of its fingerprints, =die ends it
// with SIGKILL once its runs are made, =throw throws std::bad_alloc out of it; =hangup sends every
// copy SIGHUP once its runs are made.
int main(int argc, char** argv) {
  const char* fault = std::getenv("LUBENCH_TEST_COPY_FAULT");
  const std::string which = fault != nullptr ? fault : "";
  return reportMain(argc, argv, [which](int copy, std::vector<RunRecord>& runs) {
    if (which == "hangup") raise(SIGHUP);
    if (copy != 1) return;
    if (which == "fingerprint") {
      for (RunRecord& run : runs) run.fingerprint ^= 1;
    }
    if (which == "die") raise(SIGKILL);
    if (which == "throw") throw std::bad_alloc();
  });
}
