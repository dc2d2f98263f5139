#include "memory_budget.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "workspace.hpp"

// The memory a process may take, on fixture trees of /proc and the control groups, and the
// check of a whole sweep against it.

namespace {

// Writes text to root/path, creating the directories.
void fixture(const std::filesystem::path& root, const std::string& path, const std::string& text) {
  const std::filesystem::path file = root / path;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

TEST(MemoryBudget, TheTightestOfMeminfoAndTheControlGroupsLimits) {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("lubench-budget-" + std::to_string(getpid()));
  const std::string meminfo = "MemTotal: 8000000 kB\nMemAvailable: 4000000 kB\n";
  const double available = 4000000.0 * 1024;

  // v2: the process's group allows 1 GB with 0.25 GB used, its parent 0.5 GB with 0.375 GB used.
  fixture(base / "v2", "proc/meminfo", meminfo);
  fixture(base / "v2", "proc/self/cgroup", "0::/job/step\n");
  fixture(base / "v2", "sys/fs/cgroup/job/step/memory.max", "1000000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/step/memory.current", "250000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/memory.max", "500000000\n");
  fixture(base / "v2", "sys/fs/cgroup/job/memory.current", "375000000\n");
  const std::optional<MemoryBudget> v2 = availableMemory((base / "v2").string());
  ASSERT_TRUE(v2.has_value());
  EXPECT_EQ(v2->bytes, 125000000.0);

  // v1 beside a hybrid v2 mount whose group has no limit ("max").
  fixture(base / "v1", "proc/meminfo", meminfo);
  fixture(base / "v1", "proc/self/cgroup", "9:pids:/\n4:memory:/box\n0::/\n");
  fixture(base / "v1", "sys/fs/cgroup/memory/box/memory.limit_in_bytes", "2000000000\n");
  fixture(base / "v1", "sys/fs/cgroup/memory/box/memory.usage_in_bytes", "500000000\n");
  fixture(base / "v1", "sys/fs/cgroup/unified/memory.max", "max\n");
  EXPECT_EQ(availableMemory((base / "v1").string())->bytes, 1500000000.0);

  // v1's "no limit" (a page-rounded 2^63 - 1) leaves MemAvailable.
  fixture(base / "open", "proc/meminfo", meminfo);
  fixture(base / "open", "proc/self/cgroup", "4:memory:/\n");
  fixture(base / "open", "sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  EXPECT_EQ(availableMemory((base / "open").string())->bytes, available);
  EXPECT_FALSE(availableMemory((base / "nothing").string()).has_value());

  // A sweep is checked as a whole before anything runs.
  RunOptions small;
  small.n = 1000;
  RunOptions large = small;
  large.n = 3000;  // three matrices of 72 MB: more than the v2 group's 125 MB
  EXPECT_TRUE(sweepFitsInMemory({small}, (base / "v2").string()));
  EXPECT_FALSE(sweepFitsInMemory({small, large}, (base / "v2").string()));
  std::filesystem::remove_all(base);
}

}  // namespace
