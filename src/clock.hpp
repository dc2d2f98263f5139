#pragma once

#include <ctime>

// The monotonic clock every timed region is measured with.

// Reads CLOCK_MONOTONIC into now; on failure prints "<program>: cannot read the monotonic clock:
// <reason>" on standard error and returns false.
bool readMonotonicClock(timespec& now, const char* program);

// Nanoseconds from one monotonic clock reading to a later one.
inline long long elapsedNanoseconds(const timespec& from, const timespec& to) {
  return static_cast<long long>(to.tv_sec - from.tv_sec) * 1000000000LL +
         static_cast<long long>(to.tv_nsec - from.tv_nsec);
}
