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
  // Erases the line, so that what follows starts on a clean one.
  void clear();

  // Whether the terminal named by TERM (may be null) understands the erase sequence.
  static bool termCanErase(const char* term);

 private:
  // Drawing is enabled and the last drawing is at least kRedrawNanoseconds old.
  bool due(const timespec& now) const;
  void draw(const timespec& now);
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

// ab's progress line on a terminal, between runs: the text shown, cut to kProgressWidth,
// replacing the last.
class AbProgressLine {
 public:
  AbProgressLine(bool enabled, bool canErase) : enabled_(enabled), canErase_(canErase) {}
  ~AbProgressLine() { clear(); }
  AbProgressLine(const AbProgressLine&) = delete;
  AbProgressLine& operator=(const AbProgressLine&) = delete;

  void show(const std::string& text) {
    if (!enabled_) return;
    std::string line = text.substr(0, kProgressWidth);
    const std::size_t shown = line.size();
    if (!canErase_ && shown < shownLength_) line.append(shownLength_ - shown, ' ');
    std::fprintf(stderr, "\r%s%s", line.c_str(), canErase_ ? "\033[K" : "");
    std::fflush(stderr);
    shownLength_ = shown;
  }
  void clear() {
    if (!enabled_ || shownLength_ == 0) return;
    std::fprintf(stderr, "\r%s\r", canErase_ ? "\033[K" : std::string(shownLength_, ' ').c_str());
    std::fflush(stderr);
    shownLength_ = 0;
  }

 private:
  bool enabled_;
  bool canErase_;
  std::size_t shownLength_ = 0;
};
