#pragma once

#include <array>
#include <ctime>
#include <optional>

#include "lu_step.hpp"
#include "vector_paths.hpp"

// The benchmark's timed work, written once for lubench, lubench-report and the benchmarks: the
// block loop and both triangular solves between two readings of the monotonic clock, on the
// vector path and tile kernel chosen (or chosen here, after the first reading).

// Blocked LU factorisation with row interchanges of the row-major n x n matrix a, in place, in
// column blocks of b. Each block [ib, end), end = min(ib + b, n), runs:
//   1. pivots of all its columns, chosen before any is eliminated (choosePanelPivots);
//   2. elimination within the diagonal block;
//   3. the multipliers of the rows below it;
//   4. the block row of U;
//   5. s's trailing region [end, n)^2 set to zero, then cache1(a, a, s, n, end, b, ib);
//   6. the trailing update a -= s over [end, n)^2
// (steps 5 and 6 run as one pass over the tiles, and a few consecutive blocks share one such
// sweep with look-ahead, see runBlockedLu; a, perm and s end exactly as the steps in this order leave
// them, for any contents of s on entry).
// perm (n entries, normally the identity on entry) records the interchanges: perm[r] is the
// input row now at position r. On return a holds L (unit diagonal not stored) and U of the row-
// permuted input. A column whose pivot magnitude is zero is reported on standard output with
// "LUfactoration failed: coefficient matrix is singular"; the elimination still divides by the
// diagonal entry as it stands, so IEEE infinities and NaNs flow on. s is an n x n scratch matrix.
// Does nothing for n <= 0; for b <= 0 reports the bad block size on standard error and leaves
// everything untouched. The stack must allow kBlockLoopStackBytes.
// Runs on the automatic choice of path and kernel (resolveChoice).
void blockedLu(double* a, int* perm, double* s, int n, int b);

// The kernels the block loop may use for a choice (see KernelPlan): the chosen kernel alone when
// it was forced (choice.kernel given, or the build fixed to one), else every kernel of the path,
// its default first, tried on the run's own sweeps. resolved is resolveChoice(choice); log may
// be null.
KernelPlan planFor(const KernelChoice& choice, const KernelChoice& resolved, KernelTrialLog* log);

// blockedLu on the path and kernel given (resolved as resolveChoice does; a choice that cannot
// be resolved falls back to the widest path's default kernel; a choice without a kernel tries
// the path's kernels), telling observer (may be null) of each finished step; blocksPerSweep blocks
// share a sweep (kPathSchedule: the path's own number; 1 turns the look-ahead off). Returns the
// number of columns reported singular.
inline constexpr int kPathSchedule = 0;
int blockedLuWith(const KernelChoice& choice, double* a, int* perm, double* s, int n, int b,
                  StepObserver* observer = nullptr, int blocksPerSweep = kPathSchedule);

// choice resolved as resolveChoice does, or the widest path's default kernel where it cannot be.
KernelChoice resolvedChoiceOrWidest(const KernelChoice& choice);

// mydtsrsm on path: both solves, the solution discarded. Does nothing for n <= 0.
void solveOnPath(const VectorPath& path, const int* perm, const double* a, const double* rhs,
                 int n);

// One problem of the timed region: the matrix a (factorised in place), the permutation vector
// perm (the identity on entry), the scratch matrix s, the right-hand side rhs, order n, block b.
struct TimedProblem {
  double* a;
  int* perm;
  double* s;
  const double* rhs;
  int n;
  int b;
};

struct TimedRegionOptions {
  KernelChoice choice;     // null members: chosen after the first clock reading
  bool timeSteps = false;  // time each step of the block loop (one clock reading per step)
  int blocksPerSweep = kPathSchedule;  // blocks a sweep; 1 turns the look-ahead off
};

struct TimedRegionResult {
  timespec start{};
  timespec end{};
  int singularColumns = 0;
  KernelChoice ran;  // the path, and the kernel in use at the end
  bool kernelTried = false;  // the kernels were tried (more than one candidate)
  KernelTrialLog trials;     // the trials made
  // With timeSteps: nanoseconds spent in each step (indexed by LuStep), and in the solves.
  std::array<long long, kLuStepCount> stepNanoseconds{};
  long long solveNanoseconds = 0;
};

// Reads the monotonic clock, runs the block loop over the problem and both solves (their work
// vectors on the stack up to the benchmark's order), reads the clock again. Nothing is printed,
// allocated or read beyond the block loop's own singular-pivot messages. Returns nullopt after
// "<program>: cannot read the monotonic clock: ..." on standard error, or "<program>: this build
// is fixed to the tile kernel K, which no vector path this CPU runs holds (...)" when the choice
// cannot be resolved.
std::optional<TimedRegionResult> runTimedRegion(const TimedProblem& problem,
                                                const TimedRegionOptions& options,
                                                const char* program);

// False after that second message, when the automatic choice cannot be resolved on this CPU:
// for a driver to ask before it sets anything up.
bool automaticChoiceRuns(const char* program);
