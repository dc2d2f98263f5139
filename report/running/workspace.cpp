#include "workspace.hpp"

#include <cstdio>

#include "memory_budget.hpp"
#include "program.hpp"
#include "statistics.hpp"

namespace {

// "<what> for --n N", for allocation messages.
template <class T>
AlignedBuffer<T> allocateFor(std::size_t count, const char* what, int n, bool& ok) {
  if (!ok) return nullptr;
  const std::string name = std::string(what) + " for --n " + std::to_string(n);
  AlignedBuffer<T> buffer = allocateBuffer<T>(count, name.c_str(), kProgram);
  ok = buffer != nullptr;
  return buffer;
}

}  // namespace

Workspace::Workspace(const RunOptions& o)
    : entries(static_cast<std::size_t>(o.n) * static_cast<std::size_t>(o.n)) {
  bool ok = true;
  const std::size_t n = static_cast<std::size_t>(o.n);
  a = allocateFor<double>(entries, "matrix A", o.n, ok);
  original = allocateFor<double>(entries, "copy of the matrix", o.n, ok);
  s = allocateFor<double>(entries, "scratch product matrix", o.n, ok);
  rhs = allocateFor<double>(n, "right-hand side", o.n, ok);
  x = allocateFor<double>(n, "solution", o.n, ok);
  perm = allocateFor<int>(n, "permutation vector", o.n, ok);
  if (o.checkReference) {
    referenceA = allocateFor<double>(entries, "reference matrix", o.n, ok);
    referenceS = allocateFor<double>(entries, "reference scratch matrix", o.n, ok);
    referencePerm = allocateFor<int>(n, "reference permutation", o.n, ok);
  }
  if (o.compareLapack) {
    lapackA = allocateFor<double>(entries, "LAPACK's matrix", o.n, ok);
    lapackX = allocateFor<double>(n, "LAPACK's solution", o.n, ok);
    lapackPivots = allocateFor<int>(n, "LAPACK's pivots", o.n, ok);
  }
  ready_ = ok;
}

double bytesNeeded(const RunOptions& options) {
  const double n = options.n;
  const double reference = options.checkReference ? 1 : 0;
  const double lapack = options.compareLapack ? 1 : 0;
  const double matrices = 3 + 2 * reference + lapack;
  const double doubleVectors = 2 + lapack;
  const double intVectors = 1 + reference + lapack;
  return sizeof(double) * (matrices * n * n + doubleVectors * n) + sizeof(int) * intVectors * n +
         static_cast<double>(sizeof(RunRecord)) * options.repeat;
}

namespace {

std::string gigabytes(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  return text;
}

}  // namespace

bool sweepFitsInMemory(const std::vector<RunOptions>& combinations, const std::string& root,
                       int copies) {
  const std::optional<MemoryBudget> budget = availableMemory(root);
  if (!budget) return true;
  const double kept = static_cast<double>(sizeof(Summary) + sizeof(CombinationRecord)) *
                      static_cast<double>(combinations.size());
  for (const RunOptions& o : combinations) {
    const double needed = bytesNeeded(o) * copies + kept;
    if (needed <= budget->bytes) continue;
    // "--n N with A and B": the options that add to the combination's memory.
    std::string extras;
    auto add = [&](const std::string& option) {
      extras += (extras.empty() ? " with " : " and ") + option;
    };
    if (o.checkReference) add("--check-reference");
    if (o.compareLapack) add("--compare-lapack");
    if (o.repeat > 1) add("--repeat " + std::to_string(o.repeat));
    if (copies > 1) add(std::to_string(copies) + " copies");
    std::fprintf(stderr, "%s: --n %d%s needs %s of memory, more than the %s %s\n", kProgram, o.n,
                 extras.c_str(), gigabytes(needed).c_str(), gigabytes(budget->bytes).c_str(),
                 budget->source);
    return false;
  }
  return true;
}
