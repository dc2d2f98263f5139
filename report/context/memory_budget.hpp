#pragma once

#include <optional>
#include <string>

// How much memory a new allocation may take without the kernel swapping or killing the process.

struct MemoryBudget {
  double bytes = 0;
  const char* source = "";  // what limits it, for messages
};

// The smallest of: MemAvailable in /proc/meminfo, and, for the process's control group and each
// of its ancestors, the memory limit less the usage (cgroup v2: memory.max and memory.current;
// v1: memory.limit_in_bytes and memory.usage_in_bytes of the memory hierarchy). Files that are
// missing or unlimited do not count; nothing when none gives a figure. Every path is read under
// root ("" for the running system), so tests can point it at a fixture tree.
std::optional<MemoryBudget> availableMemory(const std::string& root = "");
