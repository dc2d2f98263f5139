#include "progress.hpp"

#include <algorithm>
#include <cstring>

#include "clock.hpp"
#include "interruption.hpp"

ProgressDisplay::ProgressDisplay(std::FILE* out, bool enabled, bool canErase)
    : out_(out), enabled_(enabled), canErase_(canErase) {}

bool ProgressDisplay::termCanErase(const char* term) {
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

void ProgressDisplay::startCombination(const RunOptions& options, int index, int count,
                                       const timespec& now) {
  options_ = options;
  index_ = index;
  count_ = count;
  timedDone_ = 0;
  warmUpDone_ = !options.warmUp;
  combinationStart_ = now;
  if (due(now)) draw(now);
}

void ProgressDisplay::runFinished(bool timed, const timespec& now) {
  if (timed) {
    ++timedDone_;
  } else {
    warmUpDone_ = true;
    // The warm-up's time says nothing of the timed runs' pace.
    combinationStart_ = now;
  }
  if (due(now)) draw(now);
}

bool ProgressDisplay::due(const timespec& now) const {
  return enabled_ && (!drawnOnce_ || elapsedNanoseconds(lastDrawn_, now) >= kRedrawNanoseconds);
}

void ProgressDisplay::draw(const timespec& now) {
  lastDrawn_ = now;
  drawnOnce_ = true;
  const double seconds = elapsedNanoseconds(combinationStart_, now) * 1e-9;
  const double left = timedDone_ > 0 ? seconds / timedDone_ * (options_.repeat - timedDone_) : 0;
  char line[256];
  int length = 0;
  // A forced kernel tells apart the combinations of one n and block.
  const std::string kernel = options_.kernel == "auto" ? "" : ", " + options_.kernel;
  if (!warmUpDone_) {
    length = std::snprintf(line, sizeof line, "lubench-report: [%d/%d] n %d, b %d%s: warm-up run",
                           index_ + 1, count_, options_.n, options_.block, kernel.c_str());
  } else {
    length = std::snprintf(line, sizeof line,
                           "lubench-report: [%d/%d] n %d, b %d%s: run %d of %d, %.0f s left",
                           index_ + 1, count_, options_.n, options_.block, kernel.c_str(),
                           std::min(timedDone_ + 1, options_.repeat), options_.repeat, left);
  }
  drawText(std::string(line, static_cast<std::size_t>(std::clamp(length, 0, kProgressWidth))));
}

void ProgressDisplay::show(const std::string& text) {
  if (enabled_) drawText(text);
}

void ProgressDisplay::drawText(const std::string& whole) {
  const std::string text = whole.substr(0, kProgressWidth);
  std::string shown = canErase_ ? "\r\033[K" : "\r";
  shown += text;
  if (!canErase_ && text.size() < shownLength_) {
    shown += std::string(shownLength_ - text.size(), ' ');
  }
  // The signal handler may erase the line at any moment: the text it would use changes with the
  // line, so both change together.
  const SignalsHeld held;
  std::fputs(shown.c_str(), out_);
  std::fflush(out_);
  shownLength_ = std::max(shownLength_, text.size());
  clearing_.assign(1, '\r');
  if (canErase_) {
    clearing_.append("\033[K");
  } else {
    clearing_.append(shownLength_, ' ').push_back('\r');
  }
  setTerminalClearing(clearing_);
}

void ProgressDisplay::clear() {
  if (clearing_.empty()) return;
  const SignalsHeld held;
  std::fputs(clearing_.c_str(), out_);
  std::fflush(out_);
  clearing_.clear();
  shownLength_ = 0;
  setTerminalClearing(clearing_);
}
