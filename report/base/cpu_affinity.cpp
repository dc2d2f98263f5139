#include "cpu_affinity.hpp"

#include <sched.h>

#include <cerrno>

namespace {

bool inRange(int cpu) { return cpu >= 0 && cpu < CPU_SETSIZE; }

// The process's mask into set; false when it cannot be read.
bool readMask(cpu_set_t& set) {
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0;
}

}  // namespace

bool pinToCpu(int cpu) {
  if (!inRange(cpu)) {
    errno = EINVAL;
    return false;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

std::vector<int> allowedCpus() {
  std::vector<int> cpus;
  cpu_set_t set;
  if (!readMask(set)) return cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  }
  return cpus;
}

std::optional<int> pinnedCpu() {
  cpu_set_t set;
  if (!readMask(set) || CPU_COUNT(&set) != 1) return std::nullopt;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) return cpu;
  }
  return std::nullopt;
}

bool mayRunOn(int cpu) {
  cpu_set_t set;
  return inRange(cpu) && readMask(set) && CPU_ISSET(cpu, &set);
}
