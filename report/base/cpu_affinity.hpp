#pragma once

#include <optional>
#include <vector>

// The CPUs this process may run on, and pinning it to one of them: the one place that reads or
// sets the affinity mask (the report's --affinity, ab's children, --copies, the context).

// Pins the calling process to cpu. Safe between fork and exec: no allocation, only
// async-signal-safe calls. False, with errno set, when cpu is outside the mask's range or not
// one the process may use.
bool pinToCpu(int cpu);

// The CPUs this process may run on, lowest first; empty when the mask cannot be read.
std::vector<int> allowedCpus();

// The CPU the process is pinned to, when its mask allows exactly one.
std::optional<int> pinnedCpu();

// Whether this process may run on cpu (false outside the mask's range or when it cannot be read).
bool mayRunOn(int cpu);
