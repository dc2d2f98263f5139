#include "command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output_format.hpp"

// The command line's numbers and lists, and the sweep's warm-up runs.

namespace {

TEST(ReportOptions, WholeNumbersListsAndWarmUps) {
  EXPECT_EQ(parseWholeNumber("0064", 1, 100), 64);
  for (const char* bad : {"", "+5", "-5", " 5", "5 ", "0x10", "101", "99999999999999999999"}) {
    EXPECT_FALSE(parseWholeNumber(bad, 1, 100).has_value()) << bad;
  }
  EXPECT_EQ(parseList("1024,2048,4096", 5000).values, (std::vector<int>{1024, 2048, 4096}));
  EXPECT_EQ(parseList("010,9", 10).values, (std::vector<int>{10, 9}));
  for (const char* bad : {"", ",", "1,,2", "1,2,", "1,1", "0", "11", "1,-2", "1;2", "2,02"}) {
    EXPECT_FALSE(parseList(bad, 10).error.empty()) << bad;
  }
  // A single run of a single combination is the only one without a warm-up.
  SweepOptions sweep;
  sweep.orders = {64};
  EXPECT_FALSE(sweep.combinations().front().warmUp);
  sweep.orders = {64, 96};
  for (const RunOptions& o : sweep.combinations()) EXPECT_TRUE(o.warmUp);
  sweep.orders = {64};
  sweep.base.repeat = 2;
  EXPECT_TRUE(sweep.combinations().front().warmUp);
}

}  // namespace

namespace {

// Every command names its formats alike, and an --out's name says its document's format.
TEST(OutputFormats, NamesAndExtensions) {
  const std::vector<std::string> all{"text", "md", "csv", "json"};
  EXPECT_EQ(canonicalFormat("table", all), "text");
  EXPECT_EQ(canonicalFormat("csv", all), "csv");
  EXPECT_FALSE(canonicalFormat("csv", {"text", "md", "json"}).has_value());
  for (const char* bad : {"", "TEXT", "markdown", "json "}) {
    EXPECT_FALSE(canonicalFormat(bad, all).has_value()) << bad;
  }
  EXPECT_EQ(formatOfOutName("runs.md"), "md");
  EXPECT_EQ(formatOfOutName("dir.csv/RUNS.CSV"), "csv");
  EXPECT_EQ(formatOfOutName("/dev/stdout"), "json");
  EXPECT_EQ(formatOfOutName("runs.md.json"), "json");
  EXPECT_EQ(formatOfOutName(".md"), "md");
  EXPECT_EQ(formatOfOutName("md"), "json");
  EXPECT_EQ(formatNames({"text", "md", "json"}), "text, md or json");
  EXPECT_EQ(formatNames({"json"}), "json");
}

}  // namespace
