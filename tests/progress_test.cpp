#include "progress.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clock.hpp"

// The progress line on a terminal.

namespace {

// Everything the display wrote, split at carriage returns.
std::vector<std::string> progressLines(bool canErase, const RunOptions& options) {
  std::FILE* out = std::tmpfile();
  {
    ProgressDisplay display(out, true, canErase);
    timespec now{100, 0};
    display.startCombination(options, 0, 2, now);
    for (int run = 0; run <= options.repeat; ++run) {
      now.tv_sec += 1;
      display.runFinished(!(options.warmUp && run == 0), now);
    }
  }
  std::rewind(out);
  std::string text;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
  std::fclose(out);
  std::vector<std::string> lines;
  for (std::size_t start = 0, cr = 0; cr != std::string::npos; start = cr + 1) {
    cr = text.find('\r', start);
    lines.push_back(text.substr(start, cr == std::string::npos ? cr : cr - start));
  }
  return lines;
}

TEST(ProgressDisplay, FitsALineCountsTimedRunsOnlyAndIsErasedAtTheEnd) {
  RunOptions options;
  options.n = 600;
  options.block = 32;
  options.repeat = 3;
  options.warmUp = true;
  const std::vector<std::string> lines = progressLines(true, options);
  std::string all;
  for (const std::string& line : lines) all += line + "|";
  EXPECT_NE(all.find("warm-up run"), std::string::npos) << all;
  EXPECT_NE(all.find("run 3 of 3"), std::string::npos) << all;
  EXPECT_EQ(all.find("run 4 of"), std::string::npos) << all;
  EXPECT_TRUE(all.ends_with("\033[K|")) << all;

  // Without the erase sequence, and at the largest numbers: still one line of at most 79
  // characters, and the last one blanked.
  options.n = std::numeric_limits<int>::max();
  options.block = std::numeric_limits<int>::max();
  options.repeat = 1000;
  const std::vector<std::string> plain = progressLines(false, options);
  for (const std::string& line : plain) {
    EXPECT_LE(line.size(), static_cast<std::size_t>(kProgressWidth)) << line;
    EXPECT_EQ(line.find('\033'), std::string::npos);
  }
  ASSERT_GE(plain.size(), 2u);
  EXPECT_EQ(plain[plain.size() - 2].find_first_not_of(' '), std::string::npos);
  EXPECT_FALSE(ProgressDisplay::termCanErase("dumb"));
  EXPECT_FALSE(ProgressDisplay::termCanErase(nullptr));
  EXPECT_TRUE(ProgressDisplay::termCanErase("xterm-256color"));
}

}  // namespace

namespace {

// Text shown by a caller with its own progress (ab's pairs): cut to the width, a shorter line
// padded over a longer one where the terminal cannot erase, erased at the end; nothing at all
// when drawing is off.
TEST(ProgressDisplay, ShownTextReplacesTheLineAndIsErasedAtTheEnd) {
  const auto written = [](bool enabled, bool canErase) {
    std::FILE* out = std::tmpfile();
    {
      ProgressDisplay display(out, enabled, canErase);
      display.show(std::string(200, 'x'));
      display.show("pair 2 of 10");
    }
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
    std::fclose(out);
    return text;
  };
  const std::string wide(kProgressWidth, 'x');
  EXPECT_EQ(written(true, false), "\r" + wide + "\rpair 2 of 10" +
                                      std::string(kProgressWidth - 12, ' ') + "\r" +
                                      std::string(kProgressWidth, ' ') + "\r");
  EXPECT_EQ(written(true, true), "\r\033[K" + wide + "\r\033[Kpair 2 of 10\r\033[K");
  EXPECT_EQ(written(false, true), "");
}

}  // namespace
