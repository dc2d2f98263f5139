#include <cstdio>
#include <ctime>
#include <optional>

#include "blocking.hpp"
#include "clock.hpp"
#include "memory.hpp"
#include "output.hpp"
#include "test_data.hpp"
#include "timed_region.hpp"

// Times one blocked LU factorisation of a random 4096 x 4096 matrix and the two triangular
// solves, and prints the elapsed monotonic time in nanoseconds. Exit status 0 on success, 1 when
// the stack limit is too small for the factorisation, a build fixed to one tile kernel finds no
// vector path on this CPU that holds it, a buffer cannot be allocated, the clock cannot be read
// or the result cannot be written.
int main() {
  constexpr int b = kBenchmarkBlock;
  constexpr int N = kBenchmarkOrder;
  constexpr std::size_t matrixEntries = static_cast<std::size_t>(N) * N;

  // A stack too small for the factorisation's buffers would end the run with a signal.
  if (!stackLimitAllows(kBlockLoopStackBytes, "lubench")) return 1;
  if (!automaticChoiceRuns("lubench")) return 1;

  auto* a = static_cast<double*>(allocateZeroed(matrixEntries, sizeof(double), "matrix A"));
  if (a == nullptr) return 1;
  randMatrixGen(a, N, N);
  auto* rhs = static_cast<double*>(allocateZeroed(N, sizeof(double), "right-hand side"));
  if (rhs == nullptr) return 1;
  auto* s =
      static_cast<double*>(allocateZeroed(matrixEntries, sizeof(double), "scratch product matrix"));
  if (s == nullptr) return 1;
  auto* perm = static_cast<int*>(allocateZeroed(N, sizeof(int), "permutation vector"));
  if (perm == nullptr) return 1;
  // The buffers live until the process exits; no leak checker should count them.
  keepUntilExit(a);
  keepUntilExit(rhs);
  keepUntilExit(s);
  keepUntilExit(perm);
  randMatrixGenB(rhs, N);
  randMatrixGenpvt(perm, N);

  // The number of entries, not the order, is compared with the block size.
  if (static_cast<long long>(N) * N < b) std::printf("Your Block Size is too big for this matrix");

  // The clock readings, the block loop and the solves, on the widest vector path this CPU runs.
  const std::optional<TimedRegionResult> run =
      runTimedRegion(TimedProblem{a, perm, s, rhs, N, b}, TimedRegionOptions{}, "lubench");
  if (!run) return 1;

  const long long elapsed = elapsedNanoseconds(run->start, run->end);
  std::printf("time_spent1 runtime: %llu nanoseconds\n", static_cast<unsigned long long>(elapsed));
  return StandardOutput("lubench").finish() ? 0 : 1;
}
