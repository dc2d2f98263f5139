#include "memory_budget.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The first whole number in the file; nothing when it is missing or holds none ("max").
std::optional<double> readNumber(const std::string& path) {
  std::ifstream file(path);
  unsigned long long value = 0;
  if (!(file >> value)) return std::nullopt;
  return static_cast<double>(value);
}

std::optional<double> meminfoAvailable(const std::string& root) {
  std::ifstream meminfo(root + "/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kibibytes = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kibibytes) == 1) {
      return static_cast<double>(kibibytes) * 1024.0;
    }
  }
  return std::nullopt;
}

// Limits at or above this are the kernel's way of writing "none" in cgroup v1 (a page-rounded
// 2^63 - 1).
constexpr double kUnlimited = 0x1p62;

// The tightest limit - usage over dir and its ancestors up to the hierarchy's root.
std::optional<double> groupRoom(const std::string& mount, std::string dir, const char* limitFile,
                                const char* usageFile) {
  std::optional<double> room;
  for (;;) {
    const std::string base = mount + (dir == "/" ? "" : dir) + "/";
    const std::optional<double> limit = readNumber(base + limitFile);
    if (limit && *limit < kUnlimited) {
      const double left = *limit - readNumber(base + usageFile).value_or(0.0);
      if (!room || left < *room) room = left < 0 ? 0 : left;
    }
    if (dir.empty() || dir == "/") break;
    const std::size_t slash = dir.rfind('/');
    dir = slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
  }
  return room;
}

// The control group's room, from the process's lines in /proc/self/cgroup: "0::PATH" for v2,
// "ID:...memory...:PATH" for v1's memory hierarchy.
std::optional<double> cgroupRoom(const std::string& root) {
  std::ifstream groups(root + "/proc/self/cgroup");
  std::string line;
  std::optional<double> room;
  auto keep = [&](std::optional<double> found) {
    if (found && (!room || *found < *room)) room = found;
  };
  while (std::getline(groups, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      // A pure v2 system mounts the hierarchy at /sys/fs/cgroup, a hybrid one below it.
      for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        keep(groupRoom(root + mount, path, "memory.max", "memory.current"));
      }
      continue;
    }
    std::stringstream list(controllers);
    std::string controller;
    while (std::getline(list, controller, ',')) {
      if (controller == "memory") {
        keep(groupRoom(root + "/sys/fs/cgroup/memory", path, "memory.limit_in_bytes",
                       "memory.usage_in_bytes"));
      }
    }
  }
  return room;
}

}  // namespace

std::optional<MemoryBudget> availableMemory(const std::string& root) {
  std::optional<MemoryBudget> budget;
  if (const std::optional<double> available = meminfoAvailable(root)) {
    budget = MemoryBudget{*available, "available"};
  }
  if (const std::optional<double> room = cgroupRoom(root)) {
    if (!budget || *room < budget->bytes)
      budget = MemoryBudget{*room, "left under the control group's memory limit"};
  }
  return budget;
}
