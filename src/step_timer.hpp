#pragma once

#include <array>
#include <ctime>

#include "clock.hpp"
#include "lu_step.hpp"
#include "path_routines.hpp"

// Step observer for the block loop that adds the monotonic time since the previous mark to the
// step that has just finished. One clock reading per step and block: 7 * ceil(n / b) readings
// in a run, negligible beside the steps themselves.
class StepTimer final : public StepObserver {
 public:
  // Starts the first step at the given clock reading.
  explicit StepTimer(const timespec& start) : last_(start) {}

  void finished(LuStep step) override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    nanoseconds_[static_cast<int>(step)] += elapsedNanoseconds(last_, now);
    last_ = now;
  }

  // Nanoseconds spent in each step, indexed by LuStep.
  const std::array<long long, kLuStepCount>& nanoseconds() const { return nanoseconds_; }
  // The clock reading at the end of the last finished step.
  const timespec& lastMark() const { return last_; }

 private:
  timespec last_;
  std::array<long long, kLuStepCount> nanoseconds_{};
};
