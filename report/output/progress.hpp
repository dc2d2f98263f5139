#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "records.hpp"

// The progress line on a terminal: which combination and timed run the sweep has reached and an
// estimate of the time left. It is drawn only between runs, never inside a timed region, at most
// four times a second, in at most kProgressWidth characters so that a carriage return can always
// rewrite it.
inline constexpr int kProgressWidth = 79;

class ProgressDisplay {
 public:
  // enabled: draw at all (standard error is a terminal). canErase: the terminal understands the
  // erase-to-end-of-line sequence; otherwise a shorter line is padded with spaces.
  ProgressDisplay(std::FILE* out, bool enabled, bool canErase);
  ~ProgressDisplay() { clear(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // A combination (index of count) starts; its runs are about to begin.
  void startCombination(const RunOptions& options, int index, int count, const timespec& now);
  // A run has just ended (a warm-up run when timed is false); now is a clock reading taken after
  // the run's timed region.
  void runFinished(bool timed, const timespec& now);
  // Shows text (cut to kProgressWidth) in place of the line now, whatever the sweep's state:
  // for a caller with its own notion of progress, such as ab's pairs.
  void show(const std::string& text);
  // Erases the line, so that what follows starts on a clean one.
  void clear();

  // Whether the terminal named by TERM (may be null) understands the erase sequence.
  static bool termCanErase(const char* term);

 private:
  // Drawing is enabled and the last drawing is at least kRedrawNanoseconds old.
  bool due(const timespec& now) const;
  void draw(const timespec& now);
  void drawText(const std::string& text);
  static constexpr long long kRedrawNanoseconds = 250'000'000;
  std::FILE* out_;
  bool enabled_;
  bool canErase_;
  RunOptions options_;
  int index_ = 0;
  int count_ = 0;
  int timedDone_ = 0;
  bool warmUpDone_ = false;
  timespec combinationStart_{};
  timespec lastDrawn_{};
  bool drawnOnce_ = false;
  std::size_t shownLength_ = 0;
  std::string clearing_;
};
