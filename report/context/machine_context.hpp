#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cpu_affinity.hpp"
#include "records.hpp"

// What the system says of the machine a report ran on, read from /proc and /sys under a root
// path ("" for the running system; tests point it at fixture trees). Anything the system does
// not expose stays empty: nothing is guessed.

struct CacheInfo {
  int level = 0;
  std::string type;  // "Data", "Instruction" or "Unified"
  long long bytes = 0;
  int sharedBy = 0;  // logical CPUs sharing it
};

struct MachineContext {
  std::optional<std::string> hostName;
  std::optional<std::string> kernelRelease;
  std::optional<std::string> cpuModel;  // "model name" of /proc/cpuinfo
  std::optional<std::string> cpuVendor;
  std::optional<int> cpuFamily;
  std::optional<int> cpuModelNumber;
  int logicalCpus = 0;            // processors listed in /proc/cpuinfo
  std::vector<CacheInfo> caches;  // of CPU 0
  std::optional<double> mhz;      // cpufreq's maximum, else /proc/cpuinfo's "cpu MHz"
  std::optional<std::string> governor;
  std::optional<bool> turbo;  // intel_pstate's no_turbo or cpufreq's boost
  std::optional<std::array<double, 3>> loadAverage;
  std::optional<int> runnable;  // runnable scheduling entities, this process included
  std::optional<std::string> transparentHugePages;  // the bracketed mode
};

MachineContext readMachineContext(const std::string& root = "");

// Jiffies the hypervisor took from all CPUs so far (the steal column of /proc/stat's "cpu" line).
std::optional<long long> stolenJiffies(const std::string& root = "");

// The local time now in ISO 8601 with the offset from UTC: 2026-12-09T08:17:10+00:00.
std::string isoDate();
// The running program's path (/proc/self/exe); empty when it cannot be read.
std::string executablePath();

// Each CPU's core, package and NUMA node from /sys/devices/system/cpu/cpuN under root.
std::vector<CpuPlace> readCpuPlaces(const std::vector<int>& cpus, const std::string& root = "");

// The CPUs the copies run on, from places in increasing CPU order: "all" is every one, one per
// physical core first (the lowest CPU of each core, in CPU order), then the others; "cores" only
// the first part (SMT siblings idle); a count the first that many of "all". CPUs of unknown
// core count as cores of their own.
std::vector<CpuPlace> chooseCopyCpus(const std::vector<CpuPlace>& places, const std::string& which,
                                     int count);
