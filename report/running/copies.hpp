#pragma once

#include <functional>
#include <vector>

#include "records.hpp"

// Copies of one combination run at once, one forked child per CPU: each pins itself before it
// allocates (so its memory is its node's), builds the same matrix from the same seed, and waits
// at a barrier before every run, so that the copies' timed regions overlap. A copy that dies is
// recorded with its signal; the others go on.

// What a copy does to its records before handing them on: nothing in lubench-report; a test
// executable corrupts one copy's to prove the report names it.
using CopyResultHook = std::function<void(int copy, std::vector<RunRecord>& runs)>;

// Exit status of a copy that could not pin itself or allocate its buffers.
inline constexpr int kCopyCannotStart = 70;

// options.checkReference and options.compareLapack must be false. The calling process waits;
// its own CPU is idle meanwhile unless it is one of places.
std::vector<CopyRecord> runCopies(const RunOptions& options, const std::vector<CpuPlace>& places,
                                  const CopyResultHook& hook);

// One run record as one line of text and back, every number exact (hexadecimal floating point).
std::string encodeRun(const RunRecord& run);
std::optional<RunRecord> decodeRun(const std::string& line);
