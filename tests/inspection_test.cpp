#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "linalg.hpp"
#include "reference.hpp"
#include "test_data.hpp"

namespace {

TEST(Diff, ReportsTheLargestDifferenceTruncated) {
  const int n = 3;
  const std::vector<double> base = randomMatrix(n, 1);
  EXPECT_EQ(diff(base.data(), base.data(), n), 0);
  // One differing entry decides wherever it stands, the first included.
  for (std::size_t at : {0, 4, 8}) {
    for (auto [delta, expected] : {std::pair{0.75, 0}, {2.75, 2}, {-2.75, 2}, {1e9, 1000000000}}) {
      std::vector<double> other = base;
      other[at] += delta;
      EXPECT_EQ(diff(base.data(), other.data(), n), expected) << "entry " << at << ", " << delta;
    }
  }
}

TEST(Diff, SaturatesWhereAnIntCannotHoldTheAnswer) {
  const int n = 3;
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> base(9, 1.0);
  for (std::size_t at : {0, 4, 8}) {
    for (double value : {std::numeric_limits<double>::quiet_NaN(), inf, 4e9, -3e9}) {
      std::vector<double> other = base;
      other[at] = value;
      EXPECT_EQ(diff(base.data(), other.data(), n), INT_MAX) << "entry " << at << ", " << value;
      EXPECT_EQ(diff(other.data(), base.data(), n), INT_MAX) << "entry " << at << ", " << value;
    }
  }
  const std::vector<double> infinities(9, inf);  // inf - inf is NaN: no distance can be vouched for
  EXPECT_EQ(diff(infinities.data(), infinities.data(), n), INT_MAX);
  EXPECT_EQ(diff(nullptr, nullptr, 0), 0);
}

TEST(PrintB, ListsTheFirstSixteenEntries) {
  std::vector<double> v(20, 1.0);
  v[3] = 0.5;
  v[15] = -2.25;
  ::testing::internal::CaptureStdout();
  printB(v.data());
  std::istringstream out(::testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], "A[0] = 1.000000");
  EXPECT_EQ(lines[3], "A[3] = 0.500000");
  EXPECT_EQ(lines[15], "A[15] = -2.250000");
}

TEST(Generators, MatrixFollowsTheCLibraryGeneratorFromTheCalendarSeed) {
  const int rows = 7, cols = 9;
  std::vector<double> m(rows * cols);
  // Retry if the calendar second changes during the call, so the seed is known.
  std::time_t seed;
  do {
    seed = std::time(nullptr);
    randMatrixGen(m.data(), rows, cols);
  } while (std::time(nullptr) != seed);
  std::srand(static_cast<unsigned>(seed));
  for (double x : m) {
    EXPECT_EQ(x, (2.0 * std::rand()) / 2147483647.0 - 1.0);
    EXPECT_TRUE(x >= -1.0 && x <= 1.0);
  }
  std::vector<double> again(rows * cols);
  randMatrixGenSeeded(again.data(), rows, cols, static_cast<unsigned>(seed));
  EXPECT_EQ(again, m);
}

}  // namespace
