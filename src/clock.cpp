#include "clock.hpp"

#include <cstdio>
#include <string>

bool readMonotonicClock(timespec& now, const char* program) {
  if (clock_gettime(CLOCK_MONOTONIC, &now) == 0) return true;
  std::perror((std::string(program) + ": cannot read the monotonic clock").c_str());
  return false;
}
