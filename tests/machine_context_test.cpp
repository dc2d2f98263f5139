#include "machine_context.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cpu_affinity.hpp"
#include "quietness.hpp"

// The machine read from fixture trees of /proc and /sys: Intel, AMD and a virtual machine.

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

}  // namespace

TEST(MachineContext, CopiesTakeOneCpuPerPhysicalCoreFirst) {
  // Four CPUs on two cores of one package, siblings numbered either way, and one CPU whose
  // topology is unknown; node entries where the kernel has them.
  FixtureTree tree("copies");
  const auto cpu = [&](int number, int core, bool node) {
    const std::string dir = "sys/devices/system/cpu/cpu" + std::to_string(number);
    tree.file(dir + "/topology/core_id", std::to_string(core) + "\n")
        .file(dir + "/topology/physical_package_id", "0\n");
    if (node) std::filesystem::create_directories(tree.root() + "/" + dir + "/node1");
  };
  cpu(0, 0, true);
  cpu(1, 0, true);
  cpu(2, 1, false);
  cpu(3, 1, false);
  const std::vector<CpuPlace> places = readCpuPlaces({0, 1, 2, 3, 4}, tree.root());
  ASSERT_EQ(places.size(), 5u);
  EXPECT_EQ(places[1].core, 0);
  EXPECT_EQ(places[1].node, 1);
  EXPECT_FALSE(places[2].node);
  EXPECT_FALSE(places[4].core) << "no topology files";
  const auto cpus = [&](const std::string& which, int count) {
    std::vector<int> out;
    for (const CpuPlace& place : chooseCopyCpus(places, which, count)) out.push_back(place.cpu);
    return out;
  };
  EXPECT_EQ(cpus("all", 0), (std::vector<int>{0, 2, 4, 1, 3}));
  EXPECT_EQ(cpus("cores", 0), (std::vector<int>{0, 2, 4}));
  EXPECT_EQ(cpus("2", 2), (std::vector<int>{0, 2}));
  EXPECT_EQ(cpus("4", 4), (std::vector<int>{0, 2, 4, 1}));
}

namespace {

// The affinity mask read and set in one place: a CPU outside the mask's range is refused rather
// than written past the mask, and a pinned child sees exactly its CPU.
TEST(CpuAffinity, AllowedCpusPinningAndTheMasksRange) {
  const std::vector<int> cpus = allowedCpus();
  ASSERT_FALSE(cpus.empty());
  EXPECT_TRUE(std::is_sorted(cpus.begin(), cpus.end()));
  for (const int cpu : cpus) EXPECT_TRUE(mayRunOn(cpu)) << cpu;
  for (const int outside : {-1, CPU_SETSIZE, CPU_SETSIZE + 64}) {
    EXPECT_FALSE(mayRunOn(outside)) << outside;
    errno = 0;
    EXPECT_FALSE(pinToCpu(outside)) << outside;
    EXPECT_EQ(errno, EINVAL) << outside;
  }
  // In a child, so that this process keeps its mask: pinned to the last allowed CPU, it reports
  // that CPU alone.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool pinned = pinToCpu(cpus.back()) && pinnedCpu() == cpus.back() &&
                        allowedCpus() == std::vector<int>{cpus.back()};
    _exit(pinned ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (cpus.size() > 1) {
    EXPECT_FALSE(pinnedCpu().has_value()) << "this process was not pinned";
  }
}

}  // namespace
