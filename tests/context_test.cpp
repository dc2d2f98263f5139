#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "machine_context.hpp"
#include "mann_whitney.hpp"
#include "quietness.hpp"
#include "statistics.hpp"

// What makes lubench-report's figures comparable: the machine read from fixture trees of /proc
// and /sys, the statistics and the significance test on known cases, the quietness warnings.

namespace {

class FixtureTree {
 public:
  explicit FixtureTree(const std::string& name)
      : root_(std::filesystem::temp_directory_path() /
              ("lubench-" + name + "-" + std::to_string(getpid()))) {}
  ~FixtureTree() { std::filesystem::remove_all(root_); }
  FixtureTree& file(const std::string& path, const std::string& text) {
    const std::filesystem::path full = root_ / path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full) << text;
    return *this;
  }
  std::string root() const { return root_.string(); }

 private:
  std::filesystem::path root_;
};

std::string cpuinfo(const char* vendor, int family, int model, const char* name, int cpus) {
  std::string text;
  for (int cpu = 0; cpu < cpus; ++cpu) {
    text += "processor\t: " + std::to_string(cpu) + "\nvendor_id\t: " + vendor +
            "\ncpu family\t: " + std::to_string(family) + "\nmodel\t\t: " + std::to_string(model) +
            "\nmodel name\t: " + name + "\ncpu MHz\t\t: 2100.000\n\n";
  }
  return text;
}

void cache(FixtureTree& tree, int index, int level, const char* type, const char* size,
           const char* shared) {
  const std::string dir = "sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
  tree.file(dir + "level", std::to_string(level) + "\n")
      .file(dir + "type", std::string(type) + "\n")
      .file(dir + "size", std::string(size) + "\n")
      .file(dir + "shared_cpu_list", std::string(shared) + "\n");
}

TEST(MachineContext, IntelAmdAndAVirtualMachineWithoutFrequencyFiles) {
  FixtureTree intel("intel");
  intel.file("proc/cpuinfo", cpuinfo("GenuineIntel", 6, 106, "Intel(R) Xeon(R) Platinum 8375C", 4))
      .file("proc/sys/kernel/hostname", "builder\n")
      .file("proc/sys/kernel/osrelease", "6.1.0-13-amd64\n")
      .file("proc/loadavg", "1.50 0.80 0.40 3/412 9876\n")
      .file("proc/stat", "cpu  100 0 50 900 3 0 1 42 0 0\ncpu0 1 2 3\n")
      .file("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3500000\n")
      .file("sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "powersave\n")
      .file("sys/devices/system/cpu/intel_pstate/no_turbo", "0\n")
      .file("sys/kernel/mm/transparent_hugepage/enabled", "[always] madvise never\n");
  cache(intel, 0, 1, "Data", "48K", "0,2");
  cache(intel, 1, 1, "Instruction", "32K", "0,2");
  cache(intel, 2, 2, "Unified", "1280K", "0,2");
  cache(intel, 3, 3, "Unified", "55296K", "0-3");
  const MachineContext i = readMachineContext(intel.root());
  EXPECT_EQ(i.cpuModel, "Intel(R) Xeon(R) Platinum 8375C");
  EXPECT_EQ(i.cpuVendor, "GenuineIntel");
  EXPECT_EQ(i.cpuFamily, 6);
  EXPECT_EQ(i.cpuModelNumber, 106);
  EXPECT_EQ(i.logicalCpus, 4);
  EXPECT_EQ(i.hostName, "builder");
  EXPECT_EQ(i.kernelRelease, "6.1.0-13-amd64");
  EXPECT_EQ(i.mhz, 3500.0) << "cpufreq's maximum before /proc/cpuinfo's current rate";
  EXPECT_EQ(i.governor, "powersave");
  EXPECT_EQ(i.turbo, true);
  EXPECT_EQ(i.transparentHugePages, "always");
  ASSERT_EQ(i.caches.size(), 4u);
  EXPECT_EQ(i.caches[0].bytes, 48 << 10);
  EXPECT_EQ(i.caches[0].sharedBy, 2);
  EXPECT_EQ(i.caches[3].level, 3);
  EXPECT_EQ(i.caches[3].bytes, 55296LL << 10);
  EXPECT_EQ(i.caches[3].sharedBy, 4);
  EXPECT_EQ(i.runnable, 3);
  EXPECT_EQ(stolenJiffies(intel.root()), 42);
  // Governor, two other runnable processes and the load each give a warning.
  EXPECT_EQ(warningsBeforeRuns(i).size(), 3u);

  FixtureTree amd("amd");
  amd.file("proc/cpuinfo", cpuinfo("AuthenticAMD", 25, 17, "AMD EPYC 9R14 96-Core Processor", 2))
      .file("proc/loadavg", "0.05 0.10 0.10 1/300 123\n")
      .file("sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "performance\n")
      .file("sys/devices/system/cpu/cpufreq/boost", "0\n");
  cache(amd, 0, 1, "Data", "32K", "0");
  const MachineContext a = readMachineContext(amd.root());
  EXPECT_EQ(a.cpuFamily, 25);
  EXPECT_EQ(a.turbo, false);
  EXPECT_EQ(a.mhz, 2100.0) << "no cpufreq maximum: /proc/cpuinfo's figure";
  EXPECT_TRUE(warningsBeforeRuns(a).empty());

  // A virtual machine that exposes no frequency, governor, turbo or cache files: nothing guessed.
  FixtureTree vm("vm");
  vm.file("proc/cpuinfo", "processor\t: 0\nmodel name\t: AMD EPYC\n\n");
  const MachineContext v = readMachineContext(vm.root());
  EXPECT_EQ(v.cpuModel, "AMD EPYC");
  EXPECT_FALSE(v.cpuFamily.has_value());
  EXPECT_FALSE(v.mhz.has_value());
  EXPECT_FALSE(v.governor.has_value());
  EXPECT_FALSE(v.turbo.has_value());
  EXPECT_FALSE(v.loadAverage.has_value());
  EXPECT_TRUE(v.caches.empty());
  EXPECT_FALSE(stolenJiffies(vm.root()).has_value());
}

TEST(ReportStatistics, MomentsIntervalsAndOutliersOnKnownCases) {
  struct Case {
    std::vector<double> values;
    double mean, stddev;
    bool interval;
    double low, high, confidence;
    std::vector<int> outliers;
  };
  std::vector<double> twenty;
  for (int i = 20; i >= 1; --i) twenty.push_back(i);
  const Case cases[] = {
      {{7}, 7, 0, false, 0, 0, 0, {}},
      {{4, 6}, 5, std::sqrt(2.0), false, 0, 0, 0, {}},
      // Too few runs for the MAD to tell an outlier.
      {{100, 100.5, 110}, 103.5, std::sqrt(31.75), false, 0, 0, 0, {}},
      // Ties: the MAD is 0, the mean absolute deviation stands in; 50 is far out either way.
      {{10, 10, 10, 10, 10, 50}, 100.0 / 6, std::sqrt(800.0 / 3), true, 10, 50, 0.96875, {5}},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 5, std::sqrt(7.5), true, 2, 8, 0.9609375, {}},
      // Order statistics 6 and 15 of 20 cover the median with probability 0.9586.
      {twenty, 10.5, std::sqrt(35.0), true, 6, 15, 0.9586105346679688, {}},
  };
  for (const Case& c : cases) {
    const Distribution d = describe(c.values);
    const std::string name = std::to_string(c.values.size()) + " values";
    EXPECT_DOUBLE_EQ(d.mean, c.mean) << name;
    EXPECT_DOUBLE_EQ(d.stddev, c.stddev) << name;
    ASSERT_EQ(d.medianInterval.has_value(), c.interval) << name;
    if (c.interval) {
      EXPECT_EQ(d.medianInterval->low, c.low) << name;
      EXPECT_EQ(d.medianInterval->high, c.high) << name;
      EXPECT_DOUBLE_EQ(d.medianInterval->confidence, c.confidence) << name;
    }
    EXPECT_EQ(d.outliers, c.outliers) << name;
  }
  EXPECT_DOUBLE_EQ(describe({4, 6}).cv, std::sqrt(2.0) / 5);
  // Thousands of runs, where 2^-n underflows a double: the interval stays about 1.96 sqrt(n) / 2
  // order statistics either side of the median (1000 +- 43.8 for 1..2001), never collapsing.
  std::vector<double> many;
  for (int i = 1; i <= 2001; ++i) many.push_back(i);
  const Distribution large = describe(many);
  ASSERT_TRUE(large.medianInterval.has_value());
  EXPECT_NEAR(large.medianInterval->low, 957, 2);
  EXPECT_NEAR(large.medianInterval->high, 1045, 2);
  EXPECT_GE(large.medianInterval->confidence, 0.95);
  EXPECT_LT(large.medianInterval->confidence, 0.96);
}

TEST(MannWhitney, ExactWithoutTiesApproximateWithThem) {
  // Complete separation of 3 and 3 values: U = 0, P(U <= 0) = 1 / C(6, 3), two-sided 0.1.
  const MannWhitney separated = mannWhitney({1, 2, 3}, {4, 5, 6});
  EXPECT_TRUE(separated.exact);
  EXPECT_EQ(separated.u, 0);
  EXPECT_DOUBLE_EQ(separated.pValue, 0.1);
  EXPECT_DOUBLE_EQ(mannWhitney({4, 5, 6}, {1, 2, 3}).pValue, 0.1);
  // 10 and 10 values fully separated: 2 / C(20, 10).
  std::vector<double> low, high;
  for (int i = 0; i < 10; ++i) {
    low.push_back(i);
    high.push_back(100 + i);
  }
  EXPECT_NEAR(mannWhitney(low, high).pValue, 2.0 / 184756, 1e-15);
  // Interleaved samples: no evidence of a shift.
  EXPECT_GT(mannWhitney({1, 3, 5, 7, 9}, {2, 4, 6, 8, 10}).pValue, 0.5);
  // Ties: the normal approximation with the tie correction; all equal gives no evidence.
  const MannWhitney tied = mannWhitney({1, 1, 2, 2, 3, 3, 3, 3, 3}, {3, 4, 4, 5, 5, 5, 6, 6, 6});
  EXPECT_FALSE(tied.exact);
  EXPECT_LT(tied.pValue, 0.01);
  EXPECT_EQ(mannWhitney({5, 5, 5}, {5, 5}).pValue, 1.0);
  EXPECT_EQ(mannWhitney({}, {1}).pValue, 1.0);
}

TEST(Quietness, WarningsAfterTheRuns) {
  auto recordOf = [](std::vector<double> times, long switches, std::optional<double> steal) {
    CombinationRecord record;
    for (double t : times) {
      RunRecord run;
      run.timedNanoseconds = static_cast<long long>(t);
      record.runs.push_back(run);
    }
    record.quietness = QuietnessRecord{switches, steal};
    return record;
  };
  auto warnings = [](const CombinationRecord& r) {
    std::vector<double> times;
    for (const RunRecord& run : r.runs) times.push_back(static_cast<double>(run.timedNanoseconds));
    return warningsAfterRuns(r, describe(times));
  };
  EXPECT_TRUE(warnings(recordOf({100, 101, 100, 102, 101}, 0, 0.0)).empty());
  // Fewer than 5 runs: no estimate of the variability, and nothing claimed from one.
  EXPECT_EQ(warnings(recordOf({100, 150}, 0, std::nullopt)).size(), 1u);
  // Switches and steal during the runs; a switch now and then in long runs is the kernel's own.
  EXPECT_EQ(warnings(recordOf({100, 101, 100, 102, 101}, 3, 0.25)).size(), 2u);
  EXPECT_TRUE(warnings(recordOf({1e8, 1e8, 1e8, 1e8, 1e8}, 4, 0.0)).empty());
  // One slow run: the spread, the maximum and the outlier each say so.
  EXPECT_EQ(warnings(recordOf({100, 101, 100, 102, 101, 100, 180}, 0, 0.0)).size(), 3u);
}

}  // namespace
