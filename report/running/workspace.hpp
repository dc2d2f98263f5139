#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "memory.hpp"
#include "records.hpp"

// Every buffer one combination's runs use, allocated once before its first run and reused by
// every run; the reference and LAPACK buffers only when asked for.
struct Workspace {
  explicit Workspace(const RunOptions& options);
  // False when a buffer could not be had; the failure has been reported on standard error.
  bool ready() const { return ready_; }

  std::size_t entries;
  AlignedBuffer<double> a, original, s, rhs, x;
  AlignedBuffer<int> perm;
  AlignedBuffer<double> referenceA, referenceS;
  AlignedBuffer<int> referencePerm;
  AlignedBuffer<double> lapackA, lapackX;
  AlignedBuffer<int> lapackPivots;

 private:
  bool ready_ = false;
};

// Bytes one combination holds while it runs: its workspace and the records of its runs. A
// double, since for absurd orders the count does not fit a size_t.
double bytesNeeded(const RunOptions& options);

// True when the sweep fits in the memory available now (memory_budget.hpp): the largest
// combination's bytes beside the summaries kept for every combination. Otherwise prints which
// combination does not fit on standard error and returns false, before anything is allocated:
// where the kernel overcommits, buffers larger than the memory would be granted and the process
// killed later, with no message, while it writes them.
// copies: that many copies of each combination run at once, each with its own workspace.
bool sweepFitsInMemory(const std::vector<RunOptions>& combinations, const std::string& root = "",
                       int copies = 1);
