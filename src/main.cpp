#include <cstdio>
#include <ctime>

#include "block_loop.hpp"
#include "clock.hpp"
#include "linalg.hpp"
#include "memory.hpp"
#include "output.hpp"
#include "test_data.hpp"

// Times one blocked LU factorisation of a random 4096 x 4096 matrix and the two triangular
// solves, and prints the elapsed monotonic time in nanoseconds. Exit status 0 on success, 1 when
// the stack limit is too small for the factorisation, a buffer cannot be allocated, the clock
// cannot be read or the result cannot be written.
int main() {
  constexpr int b = kBenchmarkBlock;
  constexpr int N = kBenchmarkOrder;
  constexpr std::size_t matrixEntries = static_cast<std::size_t>(N) * N;

  // A stack too small for the factorisation's buffers would end the run with a signal.
  if (!stackLimitAllows(kBlockLoopStackBytes, "lubench")) return 1;

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

  timespec start{};
  timespec end{};
  if (!readMonotonicClock(start, "lubench")) return 1;
  blockedLu(a, perm, s, N, b);
  mydtsrsm(perm, a, rhs, N);
  if (!readMonotonicClock(end, "lubench")) return 1;

  const long long elapsed = elapsedNanoseconds(start, end);
  std::printf("time_spent1 runtime: %llu nanoseconds\n", static_cast<unsigned long long>(elapsed));
  return StandardOutput("lubench").finish() ? 0 : 1;
}
